#include "ovm/core/level_plot.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "ovm/core/audio_file.h"
#include "ovm/core/errors.h"

namespace ovm {

namespace {

constexpr double kFloorDb = -60.0;

double clampedDb(double linear) { return std::max(kFloorDb, toDb(linear)); }

std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("''") : std::string(1, c);
    return out + "'";
}

std::string plotScript(const std::string& output, const LevelTrace& trace, double sampleRate,
                       double thresholdDb, const std::string& title) {
    std::ostringstream s;
    s << "set terminal pngcairo size 1200,640 font 'Sans,10'\n"
      << "set output " << quoted(output) << "\n"
      << "set title " << quoted(title) << "\n"
      << "set xlabel 'time (s)'\nset ylabel 'level (dBFS)'\nset y2label 'gain reduction (dB)'\n"
      << "set yrange [" << kFloorDb << ":" << 18 << "]\nset y2range [-30:0]\nset ytics nomirror\nset y2tics\n"
      << "set grid\nset key bottom left\n";
    if (std::isfinite(thresholdDb))
        s << "set arrow from graph 0, first " << thresholdDb << " to graph 1, first " << thresholdDb
          << " nohead dashtype 2 lc rgb '#888888'\n";
    s << "$levels << EOD\n";
    const double windowSeconds = trace.windowSamples() / sampleRate;
    for (std::size_t i = 0; i < trace.points().size(); ++i) {
        const auto& p = trace.points()[i];
        s << double(i) * windowSeconds << " " << clampedDb(p.inputPeak) << " " << clampedDb(p.outputPeak)
          << " " << std::max(-30.0, toDb(p.gain)) << "\n";
    }
    s << "EOD\n"
      << "plot $levels using 1:2 with lines lw 1 lc rgb '#9aa7b8' title 'input peak', \\\n"
      << "     $levels using 1:3 with lines lw 1.5 lc rgb '#1f5fbf' title 'output peak', \\\n"
      << "     $levels using 1:4 axes x1y2 with lines lw 1.5 lc rgb '#d0452f' title 'gain reduction'\n";
    return s.str();
}

}  // namespace

void writeLevelPlot(const std::string& path, const LevelTrace& trace, double sampleRate, double thresholdDb,
                    const std::string& title, bool overwrite) {
    checkOutputPath(path, "", overwrite);
    const std::filesystem::path target(path);
    const std::string temporary = (target.parent_path() / ("." + target.filename().string() + ".partial-" +
                                                           std::to_string(getpid()) + ".png"))
                                      .string();
    FILE* gnuplot = popen("gnuplot >/dev/null 2>&1", "w");
    if (gnuplot == nullptr) throw outputError("cannot draw '" + path + "': gnuplot could not be started");
    const std::string script = plotScript(temporary, trace, sampleRate, thresholdDb, title);
    std::fwrite(script.data(), 1, script.size(), gnuplot);
    const int status = pclose(gnuplot);
    std::error_code error;
    if (status != 0 || !std::filesystem::exists(temporary, error)) {
        std::remove(temporary.c_str());
        throw outputError("cannot draw '" + path +
                          "': gnuplot failed (is the gnuplot-nox package installed?)");
    }
    std::filesystem::rename(temporary, path, error);
    if (error) throw outputError("cannot write '" + path + "': " + error.message());
}

}  // namespace ovm

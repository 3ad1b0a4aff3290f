#include "ovm/core/level_plot.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "engine/errors.h"
#include "ovm/core/audio_file.h"
#include "ovm/core/output_file.h"
#include "ovm/core/signal_meter.h"

namespace ovm {

namespace {

constexpr double kFloorDb = -60.0;

double clampedDb(double linear) { return std::max(kFloorDb, toDb(linear)); }

// A title in gnuplot's single quotes, where only a doubled quote is special. A line break
// would end the command and let the rest of a file name run as gnuplot commands (a line
// starting with '!' runs a shell command), so every control character becomes a space.
std::string quotedTitle(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "''";
        else
            out += (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) ? ' ' : c;
    }
    return out + "'";
}

double windowSeconds(const LevelTrace& trace, double sampleRate) { return trace.windowFrames / sampleRate; }

std::string ceilingLabel(const Ceiling& ceiling) {
    char text[64];
    std::snprintf(text, sizeof text, "ceiling %g %s", toDb(ceiling.level),
                  ceiling.measure == Ceiling::Measure::truePeak ? "dBTP" : "dBFS");
    return text;
}

bool hasTruePeak(const LevelTrace& trace) {
    return !trace.output.empty() && !std::isnan(trace.output.front().truePeak);
}

// One row per window at its start, and a last row at the run's end repeating the last
// window, so that the lines reach the end of the time axis.
void writeRows(std::ostream& s, const LevelTrace& trace, double sampleRate) {
    const std::size_t windows = std::min(trace.input.size(), trace.output.size());
    for (std::size_t i = 0; i <= windows; ++i) {
        const std::size_t w = std::min(i, windows - 1);
        const double time =
            i < windows ? double(i) * windowSeconds(trace, sampleRate) : double(trace.frames) / sampleRate;
        const double gain = w < trace.gain.size() ? trace.gain[w] : 1.0;
        s << time << " " << clampedDb(trace.input[w].samplePeak) << " "
          << clampedDb(trace.output[w].samplePeak) << " " << clampedDb(trace.output[w].truePeak) << " "
          << std::max(-30.0, toDb(gain)) << "\n";
    }
}

// The script names no file: gnuplot draws to its standard output, which is the plot's
// temporary file, and the levels travel as numbers in the script's own data block.
std::string plotScript(const LevelTrace& trace, double sampleRate, const std::optional<Ceiling>& ceiling,
                       const std::string& title) {
    std::ostringstream s;
    s << "set terminal pngcairo size 1200,640 font 'Sans,10'\n"
      << "set title " << quotedTitle(title) << " noenhanced\n"
      << "set xlabel 'time (s)'\nset ylabel 'level (dBFS, dBTP)'\nset y2label 'gain reduction (dB)'\n"
      << "set xrange [0:" << double(trace.frames) / sampleRate << "]\n"
      << "set yrange [" << kFloorDb << ":" << 18 << "]\nset y2range [-30:0]\nset ytics nomirror\nset y2tics\n"
      << "set grid\nset key bottom left\n";
    s << "$levels << EOD\n";
    writeRows(s, trace, sampleRate);
    s << "EOD\n"
      << "plot $levels using 1:2 with lines lw 1 lc rgb '#9aa7b8' title 'input sample peak', \\\n"
      << "     $levels using 1:3 with lines lw 1.5 lc rgb '#1f5fbf' title 'output sample peak', \\\n";
    if (hasTruePeak(trace))
        s << "     $levels using 1:4 with lines lw 1 lc rgb '#e08a00' title 'output true peak', \\\n";
    if (ceiling)
        s << "     " << toDb(ceiling->level) << " with lines dashtype 2 lc rgb '#888888' title '"
          << ceilingLabel(*ceiling) << "', \\\n";
    s << "     $levels using 1:5 axes x1y2 with lines lw 1.5 lc rgb '#d0452f' title 'gain reduction'\n";
    return s.str();
}

// gnuplot reads the script from a file and writes the PNG to `output`; its messages go to
// another file so that a failure can quote them. Returns why it failed, empty on success.
std::string runGnuplot(const std::string& script, int output) {
    FILE* input = std::tmpfile();
    FILE* messages = std::tmpfile();
    if (input == nullptr || messages == nullptr) {
        if (input != nullptr) std::fclose(input);
        if (messages != nullptr) std::fclose(messages);
        return "no temporary file for gnuplot's script";
    }
    std::fwrite(script.data(), 1, script.size(), input);
    std::fflush(input);
    std::rewind(input);
    const pid_t child = fork();
    if (child == 0) {
        dup2(fileno(input), STDIN_FILENO);
        dup2(output, STDOUT_FILENO);
        dup2(fileno(messages), STDERR_FILENO);
        execlp("gnuplot", "gnuplot", static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    if (child > 0)
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    std::string said;
    std::rewind(messages);
    char buffer[512];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, messages)) > 0;) said.append(buffer, n);
    std::fclose(input);
    std::fclose(messages);
    if (child < 0) return "gnuplot could not be started";
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127)
        return "gnuplot could not be started (is the gnuplot-nox package installed?)";
    // Warnings (a missing font) do not fail a plot; gnuplot exits nonzero on errors.
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return "";
    while (!said.empty() && std::isspace(static_cast<unsigned char>(said.back()))) said.pop_back();
    return "gnuplot failed" + (said.empty() ? std::string() : ": " + said.substr(0, 400));
}

}  // namespace

void writeLevelPlot(const std::string& path, const LevelTrace& trace, double sampleRate,
                    const std::optional<Ceiling>& ceiling, const std::string& title, bool overwrite) {
    if (trace.frames < 2LL * trace.windowFrames || trace.input.empty() || trace.output.empty()) {
        char needed[32];
        std::snprintf(needed, sizeof needed, "%g ms", 2000.0 * trace.windowFrames / sampleRate);
        throw outputError("cannot draw '" + path + "': the audio is too short to plot (it takes at least " +
                          needed + ")");
    }
    checkOutputPath(path, overwrite);
    OutputFile file(path);
    const std::string failure = runGnuplot(plotScript(trace, sampleRate, ceiling, title), file.descriptor());
    if (!failure.empty()) throw outputError("cannot draw '" + path + "': " + failure);
    struct stat written {};
    if (fstat(file.descriptor(), &written) != 0 || written.st_size == 0)
        throw outputError("cannot draw '" + path + "': gnuplot wrote nothing");
    file.commit(overwrite);
}

}  // namespace ovm

#include "validate/report.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>

namespace ovm::validate {

namespace {

std::string padded(std::string text, std::size_t width) {
    if (text.size() > width) text.resize(width);
    text.resize(width, ' ');
    return text;
}

std::map<Status, int> tally(const Report& report) {
    std::map<Status, int> counts;
    for (const Result& r : report.results) ++counts[r.status];
    return counts;
}

std::string reproduceLine(const Report& report) {
    return "ovm validate " + report.libraryPath + " --reproduce " + std::to_string(report.seed) +
           " --strictness " + std::to_string(report.strictness);
}

}  // namespace

std::string formatTable(const Report& report) {
    std::string out = "ovm validate " + report.libraryPath + " (" + report.descriptionPath + ")\n";
    out += "  strictness " + std::to_string(report.strictness) + ", seed " + std::to_string(report.seed) +
           ", " + std::to_string(report.modules.size()) + " module(s)\n\n";
    // One row per check; library checks have one column, module checks one per module.
    std::vector<std::string> rows;
    std::map<std::string, std::map<std::string, Status>> cells;
    for (const Result& r : report.results) {
        if (cells.count(r.check) == 0) rows.push_back(r.check);
        cells[r.check][r.module] = r.status;
    }
    std::size_t kWidth = 7;
    for (const std::string& name : report.moduleNames) kWidth = std::max(kWidth, name.size() + 2);
    out += "  " + padded("check", 24);
    for (const std::string& name : report.moduleNames) out += padded(name, kWidth);
    out += "\n";
    for (const std::string& row : rows) {
        out += "  " + padded(row, 24);
        const auto& byModule = cells[row];
        if (byModule.count("") != 0) {
            out += statusName(byModule.at(""));
        } else {
            for (const std::string& module : report.modules) {
                const auto cell = byModule.find(module);
                out += padded(cell == byModule.end() ? "-" : statusName(cell->second), kWidth);
            }
        }
        while (!out.empty() && out.back() == ' ') out.pop_back();
        out += "\n";
    }
    bool headed = false;
    for (const Result& r : report.results) {
        if (r.status == Status::pass || r.status == Status::skipped) continue;
        if (!headed) out += "\nFindings:\n";
        headed = true;
        out += "  " + std::string(statusName(r.status)) + "  " + r.check +
               (r.module.empty() ? "" : " [" + r.module + "]") +
               (r.random ? " (seed " + std::to_string(report.seed) + ")" : "") + "\n";
        for (const std::string& m : r.messages) out += "        " + m + "\n";
    }
    const auto counts = tally(report);
    const auto count = [&](Status s) { return counts.count(s) ? counts.at(s) : 0; };
    char summary[256];
    std::snprintf(summary, sizeof summary,
                  "\n%zu results: %d passed, %d failed, %d crashed, %d hung, %d warnings, %d notes\n",
                  report.results.size(), count(Status::pass), count(Status::fail), count(Status::crash),
                  count(Status::timeout), count(Status::warn), count(Status::note));
    out += summary;
    out += report.failed() ? "FAILED. Reproduce with: " + reproduceLine(report) + "\n" : "PASSED\n";
    return out;
}

std::string formatJson(const Report& report) {
    nlohmann::json results = nlohmann::json::array();
    for (const Result& r : report.results) {
        nlohmann::json entry = {
            {"check", r.check}, {"status", statusName(r.status)}, {"messages", r.messages}};
        if (!r.module.empty()) entry["module"] = r.module;
        if (r.random) entry["seed"] = report.seed;
        results.push_back(entry);
    }
    const nlohmann::json json = {
        {"library", report.libraryPath},      {"description", report.descriptionPath},
        {"strictness", report.strictness},    {"seed", report.seed},
        {"modules", report.modules},          {"passed", !report.failed()},
        {"reproduce", reproduceLine(report)}, {"results", results}};
    return json.dump(2) + "\n";
}

}  // namespace ovm::validate

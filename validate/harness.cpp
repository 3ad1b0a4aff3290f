#include "validate/harness.h"

#include <fnmatch.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <random>

#include "host/module_library.h"
#include "engine/errors.h"
#include "description/library_description_reader.h"
#include "validate/programme.h"

namespace ovm::validate {

namespace {

nlohmann::json toJson(const Result& result) {
    return {{"check", result.check},
            {"module", result.module},
            {"status", int(result.status)},
            {"messages", result.messages},
            {"random", result.random}};
}

Result fromJson(const nlohmann::json& json) {
    Result result;
    result.check = json.at("check");
    result.module = json.at("module");
    result.status = Status(json.at("status").get<int>());
    result.messages = json.at("messages").get<std::vector<std::string>>();
    result.random = json.at("random");
    return result;
}

void writeLine(int fd, const std::string& line) {
    const std::string text = line + "\n";
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n <= 0) return;
        done += std::size_t(n);
    }
}

Result runOne(const Check& check, CheckContext context) {
    Result result{check.name, context.module ? context.module->id : "", Status::pass, {}, check.random};
    try {
        check.run(context);
    } catch (const std::exception& error) {
        context.problem(std::string("the check stopped on an exception: ") + error.what());
    }
    if (!context.problems.empty()) {
        result.status = statusFor(check.severity);
        result.messages = context.problems;
    } else if (!context.notes.empty()) {
        result.status = Status::note;
        result.messages = context.notes;
    }
    return result;
}

// In the child: announces each check before it runs, so a crash or hang is pinned on it.
[[noreturn]] void runInChild(int fd, const CheckContext& base, const std::vector<const Check*>& checks,
                             std::size_t first) {
    std::unique_ptr<host::ModuleLibrary> library;
    host::ComPtr<mp::IMpFactory2> factory;
    std::string failure;
    try {
        library = std::make_unique<host::ModuleLibrary>(base.libraryPath);
        factory = library->factory();
        if (!factory) failure = "the factory does not answer IMpFactory2";
    } catch (const std::exception& error) {
        failure = error.what();
    }
    for (std::size_t i = first; i < checks.size(); ++i) {
        writeLine(fd, "B " + std::to_string(i));
        CheckContext context = base;
        context.factory = factory.get();
        Result result;
        if (!failure.empty() && checks[i]->name != "library.load" && checks[i]->name != "library.exports")
            result = {checks[i]->name,
                      base.module ? base.module->id : "",
                      Status::fail,
                      {failure},
                      checks[i]->random};
        else
            result = runOne(*checks[i], context);
        writeLine(fd, "R " + toJson(result).dump());
    }
    factory.reset();
    _exit(0);
}

struct ChildEnd {
    bool finished = false;  // every check reported
    std::optional<std::size_t> stoppedIn;
    Status status = Status::crash;
    std::string message;
};

// Seconds as a person writes them: 2, 0.5, 90.
std::string seconds(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

std::string describeStatus(int status) {
    if (WIFSIGNALED(status)) return std::string("crashed: ") + strsignal(WTERMSIG(status));
    if (WIFEXITED(status)) return "exited with status " + std::to_string(WEXITSTATUS(status));
    return "stopped";
}

// In the parent: collects results, and watches the child's clock for the running check.
ChildEnd watchChild(pid_t child, int fd, double timeoutSeconds, std::vector<Result>& results) {
    using Clock = std::chrono::steady_clock;
    ChildEnd end;
    std::string pending;
    auto deadline = Clock::now() + std::chrono::duration<double>(timeoutSeconds);
    while (true) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd watch{fd, POLLIN, 0};
        if (left <= 0 || poll(&watch, 1, int(std::max<long long>(left, 0))) == 0) {
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
            end.status = Status::timeout;
            end.message = "no answer within " + seconds(timeoutSeconds) + " s: killed";
            return end;
        }
        char chunk[4096];
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n <= 0) break;
        pending.append(chunk, std::size_t(n));
        for (std::size_t newline; (newline = pending.find('\n')) != std::string::npos;) {
            const std::string line = pending.substr(0, newline);
            pending.erase(0, newline + 1);
            if (line.rfind("B ", 0) == 0) {
                end.stoppedIn = std::stoul(line.substr(2));
                deadline = Clock::now() + std::chrono::duration<double>(timeoutSeconds);
            } else if (line.rfind("R ", 0) == 0) {
                results.push_back(fromJson(nlohmann::json::parse(line.substr(2))));
                end.stoppedIn.reset();
            }
        }
    }
    int status = 0;
    waitpid(child, &status, 0);
    end.finished = !end.stoppedIn && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    end.message = describeStatus(status);
    return end;
}

struct Child {
    pid_t pid;
    int fd;  // the read end of the pipe the child writes to
};

// Forks a child that runs `work` with the write end of a pipe; work must not return.
template <typename Work>
Child startChild(Work&& work) {
    int fds[2];
    if (pipe(fds) != 0) throw std::runtime_error("cannot create a pipe");
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("cannot fork");
    if (pid == 0) {
        close(fds[0]);
        work(fds[1]);
    }
    close(fds[1]);
    return {pid, fds[0]};
}

void runGroup(const Options& options, const CheckContext& base, const std::vector<const Check*>& checks,
              std::vector<Result>& results) {
    const std::string module = base.module ? base.module->id : "";
    for (std::size_t next = 0; next < checks.size();) {
        const Child child = startChild([&](int fd) { runInChild(fd, base, checks, next); });
        const std::size_t before = results.size();
        const ChildEnd end = watchChild(child.pid, child.fd, options.timeoutSeconds, results);
        close(child.fd);
        if (end.finished) return;
        // The check that was running when the child died or hung; else the first unreported.
        const std::size_t stopped = end.stoppedIn.value_or(next + (results.size() - before));
        if (stopped >= checks.size()) return;
        results.push_back(
            {checks[stopped]->name, module, end.status, {end.message}, checks[stopped]->random});
        next = stopped + 1;
    }
}

// Loads the library in a child, as every check does. A library that cannot be loaded, or
// hangs or crashes while loading, would fail or hang every check, one timeout after another:
// it is one library error instead. Empty when it loads and its factory answers.
std::optional<std::string> loadingFailure(const std::string& path, double timeoutSeconds) {
    const Child child = startChild([&](int fd) {
        std::string failure;
        try {
            host::ModuleLibrary library(path);
            if (!library.factory()) failure = "'" + path + "': the factory does not answer IMpFactory2";
        } catch (const std::exception& error) {
            failure = error.what();
        }
        writeLine(fd, failure.empty() ? "ok" : failure);
        _exit(0);
    });
    std::string answer;
    pollfd watch{child.fd, POLLIN, 0};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
    for (char chunk[4096];;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                .count();
        if (left <= 0 || poll(&watch, 1, int(left)) == 0) {
            kill(child.pid, SIGKILL);
            waitpid(child.pid, nullptr, 0);
            close(child.fd);
            return "'" + path + "' did not finish loading within " + seconds(timeoutSeconds) + " s: killed";
        }
        const ssize_t n = read(child.fd, chunk, sizeof chunk);
        if (n <= 0) break;
        answer.append(chunk, std::size_t(n));
    }
    close(child.fd);
    int status = 0;
    waitpid(child.pid, &status, 0);
    if (answer.empty()) return "'" + path + "' " + describeStatus(status) + " while loading";
    answer.pop_back();  // the newline
    return answer == "ok" ? std::nullopt : std::optional(answer);
}

// Every pattern names some check, and some check is left to run: a misspelt pattern must not
// turn into a run of nothing that passes.
void checkSelection(const Options& options) {
    const auto matchesSomeCheck = [](const std::string& pattern) {
        for (const Check& check : battery())
            if (fnmatch(pattern.c_str(), check.name.c_str(), 0) == 0) return true;
        return false;
    };
    for (const auto& [option, patterns] :
         {std::pair{"--include", &options.include}, {"--exclude", &options.exclude}})
        for (const std::string& pattern : *patterns)
            if (!matchesSomeCheck(pattern))
                throw usageError(std::string(option) + " '" + pattern +
                                 "' matches no check ('ovm validate --list-checks' lists them)");
    for (const Check& check : battery())
        if (selected(options, check)) return;
    throw usageError("no check is left to run with these --include and --exclude patterns at strictness " +
                     std::to_string(options.strictness));
}

uint64_t freshSeed() {
    std::random_device device;
    return (uint64_t(device()) << 32 | device()) % 1000000000000ull;
}

}  // namespace

bool Report::failed() const {
    for (const Result& r : results)
        if (r.status == Status::fail || r.status == Status::crash || r.status == Status::timeout) return true;
    return false;
}

bool selected(const Options& options, const Check& check) {
    if (check.minStrictness > options.strictness) return false;
    const auto matches = [&](const std::vector<std::string>& patterns) {
        for (const std::string& p : patterns)
            if (fnmatch(p.c_str(), check.name.c_str(), 0) == 0) return true;
        return false;
    };
    if (!options.include.empty() && !matches(options.include)) return false;
    return !matches(options.exclude);
}

Report validateLibrary(const Options& options) {
    if (!(options.timeoutSeconds >= kShortestTimeout && options.timeoutSeconds <= kLongestTimeout))
        throw usageError("--timeout must be between " + seconds(kShortestTimeout) + " and " +
                         seconds(kLongestTimeout) + " seconds");
    checkSelection(options);
    std::error_code error;
    if (!std::filesystem::exists(options.libraryPath, error))
        throw libraryError("'" + options.libraryPath + "': no such file");
    const LibraryDescription description = readLibraryDescription(options.libraryPath);
    if (const auto failure = loadingFailure(options.libraryPath, options.timeoutSeconds))
        throw libraryError(*failure);
    Report report;
    report.libraryPath = options.libraryPath;
    report.descriptionPath = description.path;
    report.seed = options.reproduce.value_or(freshSeed());
    report.strictness = options.strictness;
    std::vector<const Check*> libraryChecks, moduleChecks;
    for (const Check& check : battery())
        if (selected(options, check)) (check.perModule ? moduleChecks : libraryChecks).push_back(&check);

    CheckContext base;
    base.libraryPath = options.libraryPath;
    base.description = &description;
    base.strictness = options.strictness;
    base.seed = mixSeed(report.seed, "");
    runGroup(options, base, libraryChecks, report.results);
    for (const ModuleDescription& module : description.modules) {
        report.modules.push_back(module.id);
        report.moduleNames.push_back(module.name);
        base.module = &module;
        base.seed = mixSeed(report.seed, module.id);
        runGroup(options, base, moduleChecks, report.results);
    }
    return report;
}

}  // namespace ovm::validate

#include "tests/support/jack_dummy_server.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

namespace testing_support {

namespace {

constexpr const char* kJackd = "/usr/bin/jackd";

std::string uniqueName() {
    static std::atomic<int> count{0};
    return "ovmtest-" + std::to_string(getpid()) + "-" + std::to_string(count++);
}

}  // namespace

bool JackDummyServer::available() { return access(kJackd, X_OK) == 0; }

JackDummyServer::JackDummyServer(int sampleRate, int period) : serverName(uniqueName()) {
    const std::string rate = std::to_string(sampleRate), frames = std::to_string(period);
    pid = fork();
    if (pid == 0) {
        // Its chatter (the dummy driver reports every late wake-up) stays out of the test's output.
        const int quiet = open("/dev/null", O_WRONLY);
        dup2(quiet, STDOUT_FILENO);
        dup2(quiet, STDERR_FILENO);
        execl(kJackd, kJackd, "--no-realtime", "--sync", "-n", serverName.c_str(), "-d", "dummy", "-r", rate.c_str(), "-p",
              frames.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    // Each attempt before the server is up would print the library's complaint.
    jack_set_error_function([](const char*) {});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (jack_client_t* probe = openClient("probe")) {
            jack_client_close(probe);
            return;
        }
        if (waitpid(pid, nullptr, WNOHANG) == pid) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ADD_FAILURE() << "the JACK dummy server '" << serverName << "' did not come up";
    stop();
}

JackDummyServer::~JackDummyServer() { stop(); }

void JackDummyServer::stop() {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    pid = -1;
}

jack_client_t* JackDummyServer::openClient(const std::string& clientName) const {
    jack_status_t status{};
    return jack_client_open(clientName.c_str(), JackOptions(JackNoStartServer | JackServerName), &status,
                            serverName.c_str());
}

}  // namespace testing_support

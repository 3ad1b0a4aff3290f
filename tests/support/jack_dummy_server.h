#pragma once

#include <jack/jack.h>

#include <string>

namespace testing_support {

// A JACK server of a test's own, on the dummy driver (no sound card, time from the clock),
// under a name no other program uses, so that tests neither need nor disturb a user's server.
// Started by the constructor, which returns once a client can connect, and stopped by the
// destructor. Tests skip (GTEST_SKIP) only when available() says jackd is not installed.
class JackDummyServer {
public:
    static bool available();

    // Fails the test (and leaves running() false) when the server does not come up.
    explicit JackDummyServer(int sampleRate = 48000, int period = 64);
    ~JackDummyServer();
    JackDummyServer(const JackDummyServer&) = delete;
    JackDummyServer& operator=(const JackDummyServer&) = delete;

    const std::string& name() const { return serverName; }
    bool running() const { return pid > 0; }
    // Stops the server now (SIGTERM, then waits), e.g. to see a client survive its end.
    void stop();
    // A client of this server, or null; close it with jack_client_close.
    jack_client_t* openClient(const std::string& clientName) const;

private:
    std::string serverName;
    int pid = -1;
};

}  // namespace testing_support

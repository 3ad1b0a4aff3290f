#pragma once

#include <jack/jack.h>

#include <optional>
#include <string>
#include <vector>

namespace ovm::live {

// A client of a running JACK server (or of PipeWire's JACK interface), closed with its
// ports when it goes. It never starts a server: one that is not running is an error the user
// should see, not a server started behind their back with settings they did not choose.
class JackClient {
public:
    // Throws ovm::Error (server class) saying why the server would not take the client.
    JackClient(const std::string& name, const std::optional<std::string>& server);
    ~JackClient();
    JackClient(const JackClient&) = delete;
    JackClient& operator=(const JackClient&) = delete;

    jack_client_t* handle() const { return client; }
    // The name the server gave, which differs from the one asked for when that was taken.
    std::string name() const;
    int32_t bufferSize() const;
    double sampleRate() const;

    // Throws ovm::Error (server class) when the server refuses the port.
    jack_port_t* registerPort(const std::string& shortName, bool input);
    // Throws ovm::Error (server class) when the server refuses.
    void activate();
    // Stops the callbacks; the ports stay until close.
    void deactivate();
    // The physical ports that capture (outputs of the server's) or play (its inputs), in order.
    std::vector<std::string> physicalPorts(bool capture) const;
    // Throws ovm::Error (server class) when the server refuses the connection; one that
    // exists already is fine.
    void connect(const std::string& from, const std::string& to);

private:
    jack_client_t* client = nullptr;
    std::vector<jack_port_t*> ports;
    bool active = false;
};

}  // namespace ovm::live

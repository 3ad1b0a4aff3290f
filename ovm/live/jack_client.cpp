#include "ovm/live/jack_client.h"

#include <cerrno>

#include "engine/errors.h"

namespace ovm::live {

namespace {

Error serverError(const std::string& message) { return {ExitCode::server, message}; }

std::string whyRefused(jack_status_t status, const std::string& name, const std::optional<std::string>& server) {
    const std::string which = server ? "the JACK server '" + *server + "'" : "the JACK server";
    if (status & JackServerFailed)
        return "cannot reach " + which +
               ": none is running (start one, e.g. 'jackd -d alsa', or run ovm under PipeWire as "
               "'pw-jack ovm live ...')";
    if (status & JackVersionError) return which + " speaks another protocol version than this ovm's JACK library";
    if (status & JackShmFailure) return "cannot reach " + which + "'s shared memory";
    if (status & JackNameNotUnique) return which + " already has a client named '" + name + "'";
    if (status & JackInvalidOption) return which + " refused the client's options";
    return which + " refused the client '" + name + "' (status 0x" + std::to_string(unsigned(status)) + ")";
}

}  // namespace

JackClient::JackClient(const std::string& name, const std::optional<std::string>& server) {
    // The library's own lines ("Cannot connect to server socket ...") would come before, and
    // say less than, the message ovm gives for the same failure.
    jack_set_error_function([](const char*) {});
    jack_set_info_function([](const char*) {});
    jack_status_t status{};
    const auto options = JackOptions(JackNoStartServer | (server ? JackServerName : 0));
    client = server ? jack_client_open(name.c_str(), options, &status, server->c_str())
                    : jack_client_open(name.c_str(), options, &status);
    if (client == nullptr) throw serverError(whyRefused(status, name, server));
}

JackClient::~JackClient() {
    deactivate();
    for (jack_port_t* port : ports) jack_port_unregister(client, port);
    jack_client_close(client);
}

std::string JackClient::name() const { return jack_get_client_name(client); }
int32_t JackClient::bufferSize() const { return int32_t(jack_get_buffer_size(client)); }
double JackClient::sampleRate() const { return double(jack_get_sample_rate(client)); }

jack_port_t* JackClient::registerPort(const std::string& shortName, bool input) {
    jack_port_t* port = jack_port_register(client, shortName.c_str(), JACK_DEFAULT_AUDIO_TYPE,
                                           input ? JackPortIsInput : JackPortIsOutput, 0);
    if (port == nullptr) throw serverError("the JACK server refused the port '" + name() + ":" + shortName + "'");
    ports.push_back(port);
    return port;
}

void JackClient::activate() {
    if (jack_activate(client) != 0) throw serverError("the JACK server would not activate the client '" + name() + "'");
    active = true;
}

void JackClient::deactivate() {
    if (active) jack_deactivate(client);
    active = false;
}

std::vector<std::string> JackClient::physicalPorts(bool capture) const {
    std::vector<std::string> names;
    const char** found = jack_get_ports(client, nullptr, JACK_DEFAULT_AUDIO_TYPE,
                                        JackPortIsPhysical | (capture ? JackPortIsOutput : JackPortIsInput));
    if (found == nullptr) return names;
    for (const char** port = found; *port != nullptr; ++port) names.emplace_back(*port);
    jack_free(found);
    return names;
}

void JackClient::connect(const std::string& from, const std::string& to) {
    const int result = jack_connect(client, from.c_str(), to.c_str());
    if (result != 0 && result != EEXIST)
        throw serverError("the JACK server refused to connect '" + from + "' to '" + to + "'");
}

}  // namespace ovm::live

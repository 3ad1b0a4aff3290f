#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ovm {

struct PinDescription {
    std::string name;
    bool output = false;
    bool audio = true;  // else a float control value
    std::string unit;   // "linear", "ms", or empty
    double defaultValue = 0;
    // For a time pin ("ms"): the longest time the module honours, in samples; it cuts longer
    // times to it. Absent when there is no such limit.
    std::optional<double> maxSamples;
    // For a control pin: the range a host offers for it (a slider's ends). The module takes
    // values outside it as well; absent when the description gives none.
    std::optional<double> minimum = std::nullopt;
    std::optional<double> maximum = std::nullopt;
};

struct ModuleDescription {
    std::string id;    // the identifier the factory creates it by
    std::string name;  // a short name for people and patches
    std::string summary;
    std::vector<PinDescription> pins;  // in pin-id order

    // The pin's id, or -1.
    int pinId(std::string_view pinName) const;
    // The ids of the audio inputs, in id order.
    std::vector<int32_t> audioInputs() const;
    // The first audio output's id, or -1.
    int32_t audioOutput() const;
    // The control input that takes a time ("ms"), or -1.
    int32_t timePin() const;
};

// What a module library's description file says: the binary interface itself cannot list
// modules or name pins, so each library ships one beside it (same base name, ".toml"; ovm
// reads it, see description/library_description_reader.h).
struct LibraryDescription {
    std::string path;  // the description file
    std::string libraryName;
    std::vector<ModuleDescription> modules;

    // By identifier or short name; null when neither matches.
    const ModuleDescription* find(std::string_view idOrName) const;
};

}  // namespace ovm

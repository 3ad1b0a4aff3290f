#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/node.h"

namespace ovm {

// A pin of a host node, by the name patches give it.
struct HostPin {
    std::string_view name;
    int32_t id;
    bool output;
};

// A value a patch gives a host node.
struct HostParameter {
    std::string_view name;
    // "linear" takes a level (a plain number, dB or %); "samples" takes a time, counted in
    // samples at the run's rate.
    std::string_view unit;
    std::optional<double> defaultValue;  // absent: the patch must give it
    std::string_view example;            // shown when a required value is missing
    long long largest = 0;               // for "samples": the most the node accepts
};

// The parameters' values, in the order the kind declares them, in their units.
using ParameterValues = std::vector<double>;

// One kind of node the host provides besides modules (a patch's `type`): everything the
// engine and the patch reader know of it is declared here once.
struct HostNodeKind {
    std::string_view name;
    std::vector<HostPin> pins;  // all audio
    std::vector<HostParameter> parameters;
    // The samples by which the node delays what passes through it.
    long long (*latency)(const ParameterValues& values);
    std::unique_ptr<Node> (*make)(std::string name, int32_t blockSize, const ParameterValues& values);

    // Null when the kind has no pin or parameter of that name.
    const HostPin* pin(std::string_view pinName) const;
    const HostParameter* parameter(std::string_view parameterName) const;
};

// The kinds, in the order messages list them.
const std::vector<HostNodeKind>& hostNodeKinds();
// The kind a patch names so; null for "module" and any unknown name.
const HostNodeKind* findHostNodeKind(std::string_view name);

}  // namespace ovm

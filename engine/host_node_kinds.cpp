#include "engine/host_node_kinds.h"

#include "engine/host_nodes.h"

namespace ovm {

namespace {

// A delay holds its whole length in memory: 2^24 samples (64 MiB, about 5.8 minutes at
// 48 kHz) at most, so that a mistyped time is a patch error rather than an allocation of
// gigabytes that fails or exhausts the machine.
constexpr long long kLongestDelay = 1LL << 24;

long long noLatency(const ParameterValues&) { return 0; }

std::vector<HostNodeKind> makeKinds() {
    return {
        {"multiply",
         {{"a", MultiplyNode::a, false}, {"b", MultiplyNode::b, false}, {"output", MultiplyNode::out, true}},
         {{"gain", "linear", 1.0, "", 0}},
         noLatency,
         [](std::string name, int32_t blockSize, const ParameterValues& values) -> std::unique_ptr<Node> {
             return std::make_unique<MultiplyNode>(std::move(name), blockSize, float(values[0]));
         }},
        {"delay",
         {{"input", DelayNode::in, false}, {"output", DelayNode::out, true}},
         {{"time", "samples", std::nullopt, "5 ms", kLongestDelay}},
         [](const ParameterValues& values) { return (long long)values[0]; },
         [](std::string name, int32_t blockSize, const ParameterValues& values) -> std::unique_ptr<Node> {
             return std::make_unique<DelayNode>(std::move(name), blockSize, (long long)values[0]);
         }},
        {"truepeak",
         {{"input", TruePeakNode::in, false}, {"output", TruePeakNode::out, true}},
         {},
         [](const ParameterValues&) { return (long long)TruePeakNode::kLatency; },
         [](std::string name, int32_t blockSize, const ParameterValues&) -> std::unique_ptr<Node> {
             return std::make_unique<TruePeakNode>(std::move(name), blockSize);
         }},
    };
}

}  // namespace

const HostPin* HostNodeKind::pin(std::string_view pinName) const {
    for (const HostPin& p : pins)
        if (p.name == pinName) return &p;
    return nullptr;
}

const HostParameter* HostNodeKind::parameter(std::string_view parameterName) const {
    for (const HostParameter& p : parameters)
        if (p.name == parameterName) return &p;
    return nullptr;
}

const std::vector<HostNodeKind>& hostNodeKinds() {
    static const std::vector<HostNodeKind> kinds = makeKinds();
    return kinds;
}

const HostNodeKind* findHostNodeKind(std::string_view name) {
    for (const HostNodeKind& kind : hostNodeKinds())
        if (kind.name == name) return &kind;
    return nullptr;
}

}  // namespace ovm

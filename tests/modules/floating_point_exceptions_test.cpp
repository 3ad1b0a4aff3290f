// Debug hosts unmask the floating-point exceptions, so a division by zero, invalid operation
// or overflow in a module kills them. Every module, driven from the built Dynamics.ovm in a
// child process with those exceptions unmasked, meets NaN of either sign, infinities, zeros
// of either sign, subnormals and the float range's ends on its inputs and its control pin,
// and raises nothing.

#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/dynamics_library.h"
#include "tests/support/floating_point_traps.h"
#include "tests/support/module_harness.h"

namespace {

using testing_support::ModuleHarness;
using testing_support::startEvents;

using Limits = std::numeric_limits<float>;
constexpr float kNaN = Limits::quiet_NaN();
constexpr float kInf = Limits::infinity();

const std::vector<float> kAllValues = {kNaN,          -kNaN,         kInf,         -kInf,        0.0f,
                                       -0.0f,         Limits::denorm_min(),        -Limits::denorm_min(),
                                       1e-40f,        -1e-40f,       Limits::min(), 1.0f,        -1.0f,
                                       0.5f,          Limits::max(), -Limits::max()};
const std::vector<float> kPositiveValues = {kNaN, -kNaN, kInf, Limits::denorm_min(), Limits::min(), 0.5f, 1e30f};

// The input values whose arithmetic is defined without an exception, by module name, where
// not all are: the time converters divide by the time and take the logarithm of the factor,
// and the Integrator adds, so zeros, negative times and sums that overflow or meet
// infinities of both signs raise what IEEE arithmetic prescribes for them. The logarithm of
// a negative factor is NaN without an invalid operation.
const std::map<std::string, std::vector<float>> kDefinedInputs = {
    {"integrator", {kNaN, -kNaN, kInf, 0.0f, -0.0f, Limits::denorm_min(), -1e-40f, 1.0f}},
    {"ms2factor", kPositiveValues},
    {"factor2ms", {kNaN, -kNaN, kInf, -kInf, Limits::denorm_min(), -1e-40f, Limits::min(), 0.5f, -1.0f, 1e30f}}};

// The module's control input, as Dynamics.toml describes it, if it has one.
std::optional<int32_t> controlPin(const ovm::ModuleDescription& module) {
    for (std::size_t pin = 0; pin < module.pins.size(); ++pin)
        if (!module.pins[pin].audio && !module.pins[pin].output) return int32_t(pin);
    return std::nullopt;
}

// The values in turn, with a run of plain samples after them so that modules that hold a
// window of samples meet NaN arriving and leaving, several times over.
std::vector<float> signalOf(const std::vector<float>& values) {
    std::vector<float> signal;
    for (int round = 0; round < 3; ++round) {
        for (std::size_t k = 0; k < values.size(); ++k) signal.push_back(values[(k + round) % values.size()]);
        signal.insert(signal.end(), 200, 0.75f);
    }
    return signal;
}

void runWithExceptionsUnmasked(const ovm::ModuleDescription& module, const std::vector<float>& values,
                               std::optional<float> control) {
    const std::vector<int32_t> audioInputs = module.audioInputs();
    const int32_t output = module.audioOutput();
    std::vector<int32_t> pins = audioInputs;
    pins.push_back(output);
    ModuleHarness harness(module.id, pins, 64);
    host::EventList events = startEvents(audioInputs);
    if (control) events.value(0, *controlPin(module), *control);
    std::map<int32_t, std::vector<float>> inputs;
    for (const int32_t pin : audioInputs) inputs[pin] = signalOf(values);
    testing_support::unmaskFloatingPointExceptions();
    harness.run(inputs, output, events);
    // A control value that arrives while the module runs.
    host::EventList later;
    if (control) later.value(5, *controlPin(module), 1.0f).value(9, *controlPin(module), *control);
    harness.run(inputs, output, later);
    testing_support::maskFloatingPointExceptions();
}

TEST(FloatingPointExceptionsDeathTest, NoModuleRaisesOne) {
    for (const ovm::ModuleDescription& module : testing_support::dynamicsDescription().modules) {
        const auto defined = kDefinedInputs.find(module.name);
        const std::vector<float>& values = defined == kDefinedInputs.end() ? kAllValues : defined->second;
        std::vector<std::optional<float>> controls = {std::nullopt};
        if (controlPin(module)) controls.insert(controls.end(), kAllValues.begin(), kAllValues.end());
        for (const auto& control : controls) {
            SCOPED_TRACE(testing::Message() << module.id << ", control " << control.value_or(0.0f));
            EXPECT_EXIT((runWithExceptionsUnmasked(module, values, control), std::_Exit(0)),
                        testing::ExitedWithCode(0), "");
        }
    }
}

}  // namespace

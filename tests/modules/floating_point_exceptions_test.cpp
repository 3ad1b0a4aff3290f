// Debug hosts unmask the floating-point exceptions, so a division by zero, invalid operation
// or overflow in a module kills them. Every module, driven from the built Dynamics.ovm in a
// child process with those exceptions unmasked, meets NaN of either sign, infinities, zeros
// of either sign, subnormals and the float range's ends on its inputs and its control pin,
// and raises nothing.

#include <gtest/gtest.h>

#include <cfenv>
#include <cstdlib>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/module_harness.h"

namespace {

using testing_support::ModuleHarness;
using testing_support::startEvents;

using Limits = std::numeric_limits<float>;
constexpr float kNaN = Limits::quiet_NaN();
constexpr float kInf = Limits::infinity();

struct ModuleCase {
    std::string id;
    std::vector<int32_t> inputs;
    int32_t output;
    std::optional<int32_t> control;
    // The values whose arithmetic is defined without an exception for this module: the
    // time converters divide by the time and take the logarithm of the factor, and the
    // Integrator adds, so zeros, negative values and sums that overflow or meet infinities
    // of both signs raise what IEEE arithmetic prescribes for them.
    std::vector<float> values;
};

const std::vector<float> kAllValues = {kNaN,          -kNaN,         kInf,         -kInf,        0.0f,
                                       -0.0f,         Limits::denorm_min(),        -Limits::denorm_min(),
                                       1e-40f,        -1e-40f,       Limits::min(), 1.0f,        -1.0f,
                                       0.5f,          Limits::max(), -Limits::max()};
const std::vector<float> kPositiveValues = {kNaN, -kNaN, kInf, Limits::denorm_min(), Limits::min(), 0.5f, 1e30f};

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

void runWithExceptionsUnmasked(const ModuleCase& module, std::optional<float> control) {
    std::vector<int32_t> pins = module.inputs;
    pins.push_back(module.output);
    ModuleHarness harness(module.id, pins, 64);
    host::EventList events = startEvents(module.inputs);
    if (control) events.value(0, *module.control, *control);
    std::map<int32_t, std::vector<float>> inputs;
    for (const int32_t pin : module.inputs) inputs[pin] = signalOf(module.values);
    feenableexcept(FE_DIVBYZERO | FE_INVALID | FE_OVERFLOW);
    harness.run(inputs, module.output, events);
    // A control value that arrives while the module runs.
    host::EventList later;
    if (control) later.value(5, *module.control, 1.0f).value(9, *module.control, *control);
    harness.run(inputs, module.output, later);
    fedisableexcept(FE_ALL_EXCEPT);
}

TEST(FloatingPointExceptionsDeathTest, NoModuleRaisesOne) {
    const std::vector<ModuleCase> modules = {
        {"Orin Peak Hold", {1}, 2, 0, kAllValues},
        {"Orin Hard Knee", {1}, 2, 0, kAllValues},
        {"Orin Peak", {0, 1}, 2, std::nullopt, kAllValues},
        {"Orin Integrator", {0}, 1, std::nullopt, {kNaN, -kNaN, kInf, 0.0f, -0.0f, Limits::denorm_min(), -1e-40f, 1.0f}},
        {"Orin ms2factor", {0}, 1, std::nullopt, kPositiveValues},
        {"Orin factor2ms", {0}, 1, std::nullopt, kPositiveValues},
    };
    for (const auto& module : modules) {
        std::vector<std::optional<float>> controls = {std::nullopt};
        if (module.control) controls.insert(controls.end(), kAllValues.begin(), kAllValues.end());
        for (const auto& control : controls) {
            SCOPED_TRACE(testing::Message() << module.id << ", control " << control.value_or(0.0f));
            EXPECT_EXIT((runWithExceptionsUnmasked(module, control), std::_Exit(0)), testing::ExitedWithCode(0), "");
        }
    }
}

}  // namespace

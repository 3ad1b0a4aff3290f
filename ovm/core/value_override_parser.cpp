#include "ovm/core/value_override_parser.h"

#include <stdexcept>

#include "engine/errors.h"
#include "engine/patch_variables.h"

namespace ovm {

ValueOverride parseValueOverride(std::string_view text) {
    const auto equals = text.find('=');
    if (equals == std::string_view::npos)
        throw usageError("--set '" + std::string(text) +
                         "': expected node.pin=value, node.pin=value@time or variable=value");
    ValueOverride override;
    const std::string_view target = text.substr(0, equals);
    try {
        override.target = isVariableName(target) ? PinRef{"", std::string(target)} : parsePinRef(target);
    } catch (const std::invalid_argument& error) {
        throw usageError(std::string("--set: ") + error.what());
    }
    std::string_view value = text.substr(equals + 1);
    const auto at = value.find('@');
    if (at != std::string_view::npos) {
        if (override.setsVariable())
            throw usageError("--set '" + std::string(text) +
                             "': a variable holds one value for the whole run; set a pin at a time instead");
        override.at = SourceText{std::string(value.substr(at + 1)), "--set " + std::string(text)};
        value = value.substr(0, at);
    }
    override.value = {std::string(value), "--set " + std::string(text)};
    return override;
}

}  // namespace ovm

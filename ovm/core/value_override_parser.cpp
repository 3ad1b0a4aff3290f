#include "ovm/core/value_override_parser.h"

#include <stdexcept>

#include "engine/errors.h"

namespace ovm {

ValueOverride parseValueOverride(std::string_view text) {
    const auto equals = text.find('=');
    if (equals == std::string_view::npos)
        throw usageError("--set '" + std::string(text) + "': expected node.pin=value or node.pin=value@time");
    ValueOverride override;
    try {
        override.target = parsePinRef(text.substr(0, equals));
    } catch (const std::invalid_argument& error) {
        throw usageError(std::string("--set: ") + error.what());
    }
    std::string_view value = text.substr(equals + 1);
    const auto at = value.find('@');
    if (at != std::string_view::npos) {
        override.at = SourceText{std::string(value.substr(at + 1)), "--set " + std::string(text)};
        value = value.substr(0, at);
    }
    override.value = {std::string(value), "--set " + std::string(text)};
    return override;
}

}  // namespace ovm

#include "engine/patch.h"

#include <stdexcept>

namespace ovm {

PinRef parsePinRef(std::string_view text) {
    const auto dot = text.find('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == text.size() ||
        text.find('.', dot + 1) != std::string_view::npos)
        throw std::invalid_argument("'" + std::string(text) + "' is not of the form node.pin");
    return {std::string(text.substr(0, dot)), std::string(text.substr(dot + 1))};
}

}  // namespace ovm

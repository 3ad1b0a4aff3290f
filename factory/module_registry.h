#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "abi/plugin_interfaces.h"

namespace mp {

// Builds one module object; the returned object already holds the one reference that goes
// to the receiver. May throw (for instance when memory runs out).
using CreatorFunction = IMpPlugin2* (*)();

// Module type first, as signed integers; then the identifier code unit by code unit as
// unsigned 16-bit numbers, a proper prefix sorting first.
using RegistryKey = std::pair<int32_t, std::u16string>;

class ModuleRegistry {
public:
    // The first registration of a key stays; later ones are dropped without notice.
    void add(int32_t moduleType, const char16_t* moduleId, CreatorFunction creator);
    // The creator registered under exactly this key, or null.
    CreatorFunction find(int32_t moduleType, const char16_t* moduleId) const;

    const std::map<RegistryKey, CreatorFunction>& entries() const { return creators; }

private:
    std::map<RegistryKey, CreatorFunction> creators;
};

}  // namespace mp

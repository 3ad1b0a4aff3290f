#include "factory/module_registry.h"

namespace mp {

void ModuleRegistry::add(int32_t moduleType, const char16_t* moduleId, CreatorFunction creator) {
    creators.emplace(RegistryKey{moduleType, moduleId}, creator);
}

CreatorFunction ModuleRegistry::find(int32_t moduleType, const char16_t* moduleId) const {
    const auto found = creators.find(RegistryKey{moduleType, moduleId});
    return found == creators.end() ? nullptr : found->second;
}

}  // namespace mp

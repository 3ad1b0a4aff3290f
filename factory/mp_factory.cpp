#include "factory/mp_factory.h"

#include <algorithm>
#include <iterator>

namespace mp {

MpFactory& MpFactory::instance() {
    static MpFactory factory;
    return factory;
}

int32_t MpFactory::queryInterface(const MpGuid* iid, void** object) {
    if (object == nullptr) return kResultNoInterface;
    *object = nullptr;
    if (iid == nullptr) return kResultNoInterface;
    if (*iid != kIidMpFactory && *iid != kIidMpFactory2 && *iid != kIidMpUnknown) return kResultNoInterface;
    *object = static_cast<IMpFactory2*>(this);
    addRef();
    return kResultOk;
}

int32_t MpFactory::createInstance(ModuleId moduleId, int32_t moduleType, void** object) {
    if (object == nullptr) return kResultFail;
    *object = nullptr;
    if (moduleId == nullptr) return kResultNoInterface;
    try {
        const CreatorFunction creator = modules.find(moduleType, moduleId);
        if (creator == nullptr) return kResultNoInterface;
        *object = creator();
        return kResultOk;
    } catch (...) {
        return kResultFail;
    }
}

int32_t MpFactory::createInstanceWithHost(ModuleId moduleId, int32_t moduleType, IMpUnknown* host,
                                          void** object) {
    const int32_t result = createInstance(moduleId, moduleType, object);
    if (result != kResultOk) return result;
    // A type cast, not a queryInterface: it adds no reference.
    auto* created = static_cast<IMpPlugin2*>(*object);
    if (auto* legacy = dynamic_cast<IMpLegacyInitialization*>(static_cast<IMpUnknown*>(created)))
        legacy->setHost(host);
    return kResultOk;
}

int32_t MpFactory::getSdkInfo(int32_t* sdkVersion, int32_t bufferLength, char16_t* buffer) {
    if (sdkVersion != nullptr) *sdkVersion = kSdkVersion;
    if (buffer == nullptr || bufferLength <= 0) return kResultOk;
    const int32_t textLength = int32_t(std::size(kBuildText)) - 1;
    const int32_t copied = std::min(textLength, bufferLength - 1);
    std::copy_n(kBuildText, copied, buffer);
    buffer[copied] = u'\0';
    return kResultOk;
}

void MpFactory::registerModule(int32_t moduleType, const char16_t* moduleId, CreatorFunction creator) {
    modules.add(moduleType, moduleId, creator);
}

void registerModule(int32_t moduleType, const char16_t* moduleId, CreatorFunction creator) {
    MpFactory::instance().registerModule(moduleType, moduleId, creator);
}

}  // namespace mp

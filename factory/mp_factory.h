#pragma once

#include <cstdint>

#include "abi/factory_interfaces.h"
#include "factory/module_registry.h"

namespace mp {

// What getSdkInfo reports. Both are fixed properties of the library, not of one build:
// hosts read them to learn which generation of the plug-in interface they are talking to,
// and show or compare them. kSdkVersion is the version of the framework whose interfaces and
// behaviour the library follows, 3.8.0 written as major * 10000 + minor * 100 + patch. The
// build text is the one libraries of that generation report; it names no compiler that
// built this file and must stay exactly as it is, for hosts that compare it.
inline constexpr int32_t kSdkVersion = 30800;
inline constexpr char16_t kBuildText[] = u"MS Compiler V1934 (Release)";

// The library's one factory. It lives as long as the library: addRef and release keep no
// count, and only the library's static destruction destroys it.
class MpFactory : public IMpFactory2 {
public:
    static MpFactory& instance();

    int32_t queryInterface(const MpGuid* iid, void** object) override;
    int32_t addRef() override { return 1; }
    int32_t release() override { return 1; }
    int32_t createInstanceWithHost(ModuleId moduleId, int32_t moduleType, IMpUnknown* host,
                                   void** object) override;
    // Writes the version and as much of the build text as fits, always zero-terminated
    // when the capacity is at least one code unit; nothing for a capacity of zero or less.
    int32_t getSdkInfo(int32_t* sdkVersion, int32_t bufferLength, char16_t* buffer) override;
    int32_t createInstance(ModuleId moduleId, int32_t moduleType, void** object) override;
    virtual ~MpFactory() = default;

    void registerModule(int32_t moduleType, const char16_t* moduleId, CreatorFunction creator);
    const ModuleRegistry& registry() const { return modules; }

private:
    MpFactory() = default;

    ModuleRegistry modules;
};

// Called once per module by its static registration while the library loads.
void registerModule(int32_t moduleType, const char16_t* moduleId, CreatorFunction creator);

}  // namespace mp

#include "factory/mp_factory.h"

// The library's one export: hands the host the factory as an IMpUnknown.
extern "C" __attribute__((visibility("default"))) int32_t MP_GetFactory(void** factory) {
    return mp::MpFactory::instance().queryInterface(&mp::kIidMpUnknown, factory);
}

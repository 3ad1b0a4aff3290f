#include "host/module_host.h"

#include <cstring>
#include <utility>

namespace host {

int32_t ModuleHost::queryInterface(const mp::MpGuid* iid, void** object) {
    *object = nullptr;
    const bool answers = *iid == mp::kIidMpHost || *iid == mp::kIidMpUnknown ||
                         (answerSecondary && *iid == mp::kIidMpHostSecondary);
    if (!answers) return mp::kResultNoInterface;
    *object = static_cast<mp::IMpHost*>(this);
    addRef();
    return mp::kResultOk;
}

int32_t ModuleHost::addRef() { return ++addRefs - releases; }

int32_t ModuleHost::release() { return addRefs - ++releases; }

int32_t ModuleHost::sendPinValue(int32_t position, int32_t pinId, int32_t size, const void* data) {
    float value = 0;
    if (data != nullptr && size > 0) std::memcpy(&value, data, size < 4 ? size_t(size) : 4);
    if (recording) [[unlikely]]
        keep(HostCall::Kind::SendPinValue, position, pinId, size, value);
    return mp::kResultOk;
}

int32_t ModuleHost::reportPinStreaming(int32_t position, int32_t pinId, int32_t streaming) {
    if (recording) [[unlikely]]
        keep(HostCall::Kind::ReportPinStreaming, position, pinId, streaming);
    reports.push_back({position, pinId, streaming != 0});
    return mp::kResultOk;
}

int32_t ModuleHost::requestSleep() {
    if (recording) [[unlikely]]
        keep(HostCall::Kind::RequestSleep);
    ++sleepRequests;
    return mp::kResultOk;
}

// The answer first, the record after: nothing then has to survive the recording call, and a
// query that is not recorded needs no stack frame.
int32_t ModuleHost::queryBlockSize(int32_t* samples) {
    if (blockSize) *samples = *blockSize;
    if (recording) [[unlikely]]
        keep(HostCall::Kind::QueryBlockSize);
    return mp::kResultOk;
}

int32_t ModuleHost::querySampleRate(float* hertz) {
    if (sampleRate) *hertz = *sampleRate;
    if (recording) [[unlikely]]
        keep(HostCall::Kind::QuerySampleRate);
    return mp::kResultOk;
}

std::vector<StreamingReport> ModuleHost::takeStreamingReports() { return std::exchange(reports, {}); }

void ModuleHost::keep(HostCall::Kind kind, int32_t position, int32_t pinId, int32_t value, float floatValue) {
    recordedCalls.push_back({kind, position, pinId, value, floatValue});
}

}  // namespace host

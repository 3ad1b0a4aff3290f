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
        keep({HostCall::Kind::SendPinValue, position, pinId, size, value});
    return mp::kResultOk;
}

int32_t ModuleHost::reportPinStreaming(int32_t position, int32_t pinId, int32_t streaming) {
    if (recording) [[unlikely]]
        keep({HostCall::Kind::ReportPinStreaming, position, pinId, streaming});
    reports.push_back({position, pinId, streaming != 0});
    return mp::kResultOk;
}

int32_t ModuleHost::requestSleep() {
    if (recording) [[unlikely]]
        keep({HostCall::Kind::RequestSleep});
    ++sleepRequests;
    sleepPending = true;
    return mp::kResultOk;
}

int32_t ModuleHost::queryBlockSize(int32_t* samples) {
    if (recording) [[unlikely]]
        keep({HostCall::Kind::QueryBlockSize});
    if (blockSize) *samples = *blockSize;
    return mp::kResultOk;
}

int32_t ModuleHost::querySampleRate(float* hertz) {
    if (recording) [[unlikely]]
        keep({HostCall::Kind::QuerySampleRate});
    if (sampleRate) *hertz = *sampleRate;
    return mp::kResultOk;
}

std::vector<StreamingReport> ModuleHost::takeStreamingReports() { return std::exchange(reports, {}); }

bool ModuleHost::takeSleepRequest() { return std::exchange(sleepPending, false); }

void ModuleHost::keep(const HostCall& call) { recordedCalls.push_back(call); }

}  // namespace host

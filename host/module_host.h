#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "abi/host_interface.h"
#include "host/defaults.h"

namespace host {

// One call a module object made into its host.
struct HostCall {
    enum class Kind { SendPinValue, ReportPinStreaming, RequestSleep, QueryBlockSize, QuerySampleRate };
    Kind kind;
    int32_t position = 0;  // SendPinValue, ReportPinStreaming
    int32_t pinId = 0;     // SendPinValue, ReportPinStreaming
    int32_t value = 0;     // value size, or the streaming flag
    float floatValue = 0;  // the first four value bytes of SendPinValue, as a float

    bool operator==(const HostCall&) const = default;
};

struct StreamingReport {
    int32_t position;
    int32_t pinId;
    bool streaming;

    bool operator==(const StreamingReport&) const = default;
};

// The host side that one module object talks to. Hand it to the object with setHost (or
// createInstanceWithHost); it answers the host interface, reports the block size and sample
// rate it was given, keeps the streaming reports, counts the sleep requests and, when asked
// to, records every call. It lives on the caller's side: references are counted
// for inspection but never destroy it, and it must outlive the objects attached to it.
class ModuleHost : public mp::IMpHost {
public:
    // Room for the streaming reports of a block or two, so that a module reporting from
    // inside process() does not make its host allocate there.
    ModuleHost() { reports.reserve(16); }
    ModuleHost(const ModuleHost&) = delete;
    ModuleHost& operator=(const ModuleHost&) = delete;
    // After the host interface's slots, so the binding table is unchanged.
    virtual ~ModuleHost() = default;

    // An empty value makes the host write nothing, as a host that does not know it.
    void setBlockSize(std::optional<int32_t> samples) { blockSize = samples; }
    void setSampleRate(std::optional<float> hertz) { sampleRate = hertz; }
    std::optional<int32_t> getBlockSize() const { return blockSize; }
    std::optional<float> getSampleRate() const { return sampleRate; }
    // Whether queryInterface answers the secondary identifier (with this object).
    void setAnswerSecondary(bool answer) { answerSecondary = answer; }

    void setRecording(bool on) { recording = on; }
    const std::vector<HostCall>& calls() const { return recordedCalls; }
    void clearCalls() { recordedCalls.clear(); }

    // Streaming reports since the last take, in the order they came.
    std::vector<StreamingReport> takeStreamingReports();
    const std::vector<StreamingReport>& streamingReports() const { return reports; }
    void clearStreamingReports() { reports.clear(); }
    // Room for this many reports, so that a real-time caller that reads and clears them
    // allocates nothing.
    void reserveStreamingReports(std::size_t count) { reports.reserve(count); }
    // How many times the objects asked to sleep.
    int32_t sleepRequestCount() const { return sleepRequests; }

    int32_t addRefCount() const { return addRefs; }
    int32_t releaseCount() const { return releases; }
    // References the objects still hold: added (including by queryInterface) minus released.
    int32_t heldReferences() const { return addRefs - releases; }

    int32_t queryInterface(const mp::MpGuid* iid, void** object) override;
    int32_t addRef() override;
    int32_t release() override;
    int32_t sendPinValue(int32_t position, int32_t pinId, int32_t size, const void* data) override;
    int32_t reportPinStreaming(int32_t position, int32_t pinId, int32_t streaming) override;
    int32_t requestSleep() override;
    int32_t reserved() override { return 0; }
    int32_t queryBlockSize(int32_t* samples) override;
    int32_t querySampleRate(float* hertz) override;

private:
    // Out of line, so that a host that is not recording answers a query without even
    // building the record.
    // Plain arguments: a record built on the caller's stack would cost every query a frame.
    [[gnu::noinline]] void keep(HostCall::Kind kind, int32_t position = 0, int32_t pinId = 0,
                                int32_t value = 0, float floatValue = 0);

    std::optional<int32_t> blockSize = kDefaultBlockSize;
    std::optional<float> sampleRate = kDefaultSampleRate;
    bool answerSecondary = false;
    bool recording = false;
    std::vector<HostCall> recordedCalls;
    std::vector<StreamingReport> reports;
    int32_t sleepRequests = 0;
    int32_t addRefs = 0;
    int32_t releases = 0;
};

}  // namespace host

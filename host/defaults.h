#pragma once

#include <cstdint>

namespace host {

// What a host reports to module objects when nobody chose otherwise: 64 samples, a usual
// block of a real-time host, and 48 kHz, the usual rate of audio production.
inline constexpr int32_t kDefaultBlockSize = 64;
inline constexpr float kDefaultSampleRate = 48000.0f;

// The largest block a user may choose: far beyond any real-time block (1.4 s at 48 kHz), and
// a bound that turns a mistyped size into a clear error instead of a huge allocation.
inline constexpr int32_t kMaxBlockSize = 65536;

}  // namespace host

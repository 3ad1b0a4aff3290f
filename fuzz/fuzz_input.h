#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace fuzzing {

// Reads a fuzz input front to back. Past the end every read gives zeros, so any input,
// however short, decodes to something.
class FuzzInput {
public:
    FuzzInput(const uint8_t* data, std::size_t size) : data(data), size(size) {}

    bool empty() const { return offset >= size; }

    // A hash of the whole input (FNV-1a), for choices the fuzzer is not to steer: a mutation
    // changes it unpredictably, and no comparison in the target leads to it.
    uint32_t digest() const {
        uint32_t hash = 2166136261u;
        for (std::size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 16777619u;
        return hash;
    }

    uint8_t byte() { return offset < size ? data[offset++] : 0; }
    uint16_t u16() { return read<uint16_t>(); }
    uint32_t u32() { return read<uint32_t>(); }
    float rawFloat() { return read<float>(); }

private:
    // Little-endian, byte by byte, so a value cut off by the end is completed with zeros.
    template <typename T>
    T read() {
        uint8_t bytes[sizeof(T)] = {};
        for (auto& b : bytes) b = byte();
        T value;
        std::memcpy(&value, bytes, sizeof value);
        return value;
    }

    const uint8_t* data;
    std::size_t size;
    std::size_t offset = 0;
};

}  // namespace fuzzing

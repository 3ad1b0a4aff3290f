#pragma once

#include <utility>

#include "abi/mp_unknown.h"

namespace host {

// Holds one reference to an interface: copying adds a reference, destruction releases it.
template <typename Interface>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    ComPtr(const ComPtr& other) : pointer(other.pointer) { addRef(); }
    ComPtr(ComPtr&& other) noexcept : pointer(std::exchange(other.pointer, nullptr)) {}
    ~ComPtr() { reset(); }

    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(pointer, other.pointer);
        return *this;
    }

    // Takes over a reference the caller already owns (a creator's, or an out-parameter's).
    static ComPtr adopt(Interface* owned) {
        ComPtr result;
        result.pointer = owned;
        return result;
    }
    // Adds a reference of its own.
    static ComPtr share(Interface* borrowed) {
        ComPtr result;
        result.pointer = borrowed;
        result.addRef();
        return result;
    }

    void reset() {
        if (pointer != nullptr) std::exchange(pointer, nullptr)->release();
    }
    // Releases what is held and returns the address of the pointer, for an out-parameter.
    void** put() {
        reset();
        return reinterpret_cast<void**>(&pointer);
    }
    Interface* detach() { return std::exchange(pointer, nullptr); }

    Interface* get() const { return pointer; }
    Interface* operator->() const { return pointer; }
    Interface& operator*() const { return *pointer; }
    explicit operator bool() const { return pointer != nullptr; }

    // Asks for another interface; null when the object does not answer the identifier.
    template <typename Other>
    ComPtr<Other> query(const mp::MpGuid& iid) const {
        ComPtr<Other> result;
        if (pointer != nullptr) pointer->queryInterface(&iid, result.put());
        return result;
    }

private:
    void addRef() {
        if (pointer != nullptr) pointer->addRef();
    }

    Interface* pointer = nullptr;
};

}  // namespace host

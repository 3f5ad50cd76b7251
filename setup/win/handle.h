// Move-only owners of system handles: each closes what it holds, exactly once. Copying is
// disabled, so a handle can't be closed twice or outlive its owner by accident. Any thread, one
// owner at a time.
#pragma once

#include <windows.h>

#include <utility>

namespace setup::win {

// Traits give the handle type, its empty value and how to close it.
template <typename Traits>
class Owner {
public:
    using Type = typename Traits::Type;

    Owner() = default;
    explicit Owner(Type handle) : handle_(handle) {}
    ~Owner() { Close(); }
    Owner(Owner&& other) noexcept : handle_(other.Detach()) {}
    Owner& operator=(Owner&& other) noexcept {
        if (this != &other) Attach(other.Detach());
        return *this;
    }
    Owner(const Owner&) = delete;
    Owner& operator=(const Owner&) = delete;

    Type get() const { return handle_; }
    Type operator->() const { return handle_; }  // for COM interfaces
    explicit operator bool() const { return handle_ != Traits::Empty(); }

    // For functions that hand a new handle back through a pointer.
    Type* Receive() {
        Close();
        return &handle_;
    }
    void Attach(Type handle) {
        Close();
        handle_ = handle;
    }
    Type Detach() { return std::exchange(handle_, Traits::Empty()); }
    void Close() {
        if (*this) Traits::Close(Detach());
    }

private:
    Type handle_ = Traits::Empty();
};

struct KernelHandleTraits {  // processes, threads, pipes, jobs, events: NULL when empty
    using Type = HANDLE;
    static Type Empty() { return nullptr; }
    static void Close(Type handle) { CloseHandle(handle); }
};
using Handle = Owner<KernelHandleTraits>;

struct FileHandleTraits {  // CreateFileW and friends: INVALID_HANDLE_VALUE when empty
    using Type = HANDLE;
    static Type Empty() { return INVALID_HANDLE_VALUE; }
    static void Close(Type handle) { CloseHandle(handle); }
};
using FileHandle = Owner<FileHandleTraits>;

// A COM interface pointer, released when the owner goes.
template <typename Interface>
struct ComTraits {
    using Type = Interface*;
    static Type Empty() { return nullptr; }
    static void Close(Type pointer) { pointer->Release(); }
};
template <typename Interface>
using Com = Owner<ComTraits<Interface>>;  // with IID_PPV_ARGS(pointer.Receive())

}  // namespace setup::win

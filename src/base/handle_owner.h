// One scoped owner for every kind of handle the program opens. A traits type
// says which values mean "no handle" and how a handle is closed.
#pragma once

#include <windows.h>

#include <utility>

template <typename Traits>
class ScopedHandle {
public:
    using Handle = typename Traits::Handle;

    ScopedHandle() = default;
    explicit ScopedHandle(Handle handle) : handle_(handle) {}
    ~ScopedHandle() { Reset(); }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.Release()) {}
    ScopedHandle& operator=(ScopedHandle&& other) noexcept
    {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }

    Handle Get() const { return handle_; }
    bool Valid() const { return Traits::IsValid(handle_); }
    explicit operator bool() const { return Valid(); }

    // Closes the handle held (if any) and takes the new one. GetLastError() is
    // what it was before: a caller that failed and cleans up still reports why.
    void Reset(Handle handle = Traits::Empty())
    {
        if (Valid()) {
            const DWORD error = ::GetLastError();
            Traits::Close(handle_);
            ::SetLastError(error);
        }
        handle_ = handle;
    }

    // For calls that return a handle through an out-parameter: closes the one
    // held first, so nothing leaks when the owner is filled again.
    Handle* Put()
    {
        Reset();
        return &handle_;
    }

    // Gives the handle up without closing it; the caller now owns it.
    [[nodiscard]] Handle Release() { return std::exchange(handle_, Traits::Empty()); }

private:
    Handle handle_ = Traits::Empty();
};

// Kernel objects: CreateFileW fails with INVALID_HANDLE_VALUE, most other calls with null.
struct KernelHandleTraits {
    using Handle = HANDLE;
    static Handle Empty() { return nullptr; }
    static bool IsValid(Handle handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
    static void Close(Handle handle) { ::CloseHandle(handle); }
};

// Handles whose "none" is null and that one call closes.
template <typename HandleType, auto CloseFunction>
struct NullableHandleTraits {
    using Handle = HandleType;
    static Handle Empty() { return nullptr; }
    static bool IsValid(Handle handle) { return handle != nullptr; }
    static void Close(Handle handle) { CloseFunction(handle); }
};

using HandleOwner = ScopedHandle<KernelHandleTraits>;
// Memory a call allocated for the caller with LocalAlloc (CryptoAPI's *_ALLOC_FLAG).
using LocalMemory = ScopedHandle<NullableHandleTraits<void*, &::LocalFree>>;

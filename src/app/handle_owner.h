// Scoped owner of a kernel handle (mutex, process, thread, file).
#pragma once

#include <windows.h>

class HandleOwner {
public:
    HandleOwner() = default;
    explicit HandleOwner(HANDLE handle) : handle_(handle) {}
    ~HandleOwner() { Reset(); }
    HandleOwner(const HandleOwner&) = delete;
    HandleOwner& operator=(const HandleOwner&) = delete;
    HandleOwner(HandleOwner&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
    HandleOwner& operator=(HandleOwner&& other) noexcept
    {
        if (this != &other) {
            Reset();
            handle_ = other.handle_;
            other.handle_ = nullptr;
        }
        return *this;
    }

    HANDLE Get() const { return handle_; }
    // CreateFileW fails with INVALID_HANDLE_VALUE, most other calls with null.
    bool Valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    void Reset()
    {
        if (Valid()) {
            ::CloseHandle(handle_);
        }
        handle_ = nullptr;
    }

private:
    HANDLE handle_ = nullptr;
};

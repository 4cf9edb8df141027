// Scoped owner of one WinINet handle: closes it on every way out that does
// not close it explicitly first.
#pragma once

#include <windows.h>
#include <wininet.h>

class InternetHandleOwner {
public:
    InternetHandleOwner() = default;
    explicit InternetHandleOwner(HINTERNET handle) : handle_(handle) {}
    ~InternetHandleOwner() { Close(); }
    InternetHandleOwner(const InternetHandleOwner&) = delete;
    InternetHandleOwner& operator=(const InternetHandleOwner&) = delete;

    HINTERNET Get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    void Close()
    {
        if (handle_ != nullptr) {
            ::InternetCloseHandle(handle_);
            handle_ = nullptr;
        }
    }

private:
    HINTERNET handle_ = nullptr;
};

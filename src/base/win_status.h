// A Windows error carried as a value from where a call failed to where it is
// logged or acted on: GetLastError() is overwritten by the next call that fails
// (and by some that succeed), so it must not travel across layers.
#pragma once

#include <windows.h>

#include <optional>
#include <utility>

class WinStatus {
public:
    WinStatus() = default;  // success
    explicit WinStatus(DWORD error) : error_(error) {}
    // The calling thread's last error, taken at once after a call that failed;
    // a failure that left none is still a failure.
    static WinStatus LastError()
    {
        const DWORD error = ::GetLastError();
        return WinStatus(error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE);
    }

    explicit operator bool() const { return error_ == ERROR_SUCCESS; }  // true: it succeeded
    DWORD Error() const { return error_; }

private:
    DWORD error_ = ERROR_SUCCESS;
};

// A value, or the Windows error that kept it from being had.
template <typename T>
struct WinResult {
    std::optional<T> value;
    WinStatus status;  // fails exactly when there is no value

    static WinResult Of(T made) { return WinResult{std::optional<T>(std::move(made)), WinStatus()}; }
    static WinResult Failed(WinStatus why) { return WinResult{std::nullopt, why}; }
};

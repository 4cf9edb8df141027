// Runs a transfer on a thread of its own while the calling thread watches it.
//
// WinINet's calls block, and a server can keep one of them from ever returning
// (a response head sent a byte at a time restarts every time-out). The caller
// applies the transfer's limits to the bytes it sees moving; when a call
// overstays them, the caller gives the transfer up: it closes the request
// handle, which cancels a call in progress, and returns. The thread stops at
// its next step and touches nothing of the caller's meanwhile: whatever they
// share goes through the context and shared pointers.
#pragma once

#include "net/internet_handle.h"
#include "net/transfer_rules.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <string>

// What the caller and the transfer's thread share.
class TransferContext {
public:
    std::atomic<std::uint64_t> moved{0};  // bytes moved so far, published by the transfer

    // Runs `action` under the lock unless the caller has given the transfer up;
    // false if it has. Whatever the caller owns is touched only this way.
    template <typename Action>
    bool UnlessAbandoned(Action&& action)
    {
        std::lock_guard<std::mutex> hold(mutex_);
        if (abandoned_) {
            return false;
        }
        action();
        return true;
    }

    // The request the transfer works on from now on; the context closes it.
    // False (and closed) when the transfer has been given up already.
    bool HoldRequest(InternetHandleOwner request);
    // Closes the request held, if any.
    void CloseRequest();
    // Runs call(request) outside the lock, unless the transfer has been given
    // up. False when it was given up before or during the call: the handle is
    // then closed, and the transfer must stop without using it again.
    template <typename Call>
    bool OnRequest(Call&& call)
    {
        HINTERNET request = nullptr;
        {
            std::lock_guard<std::mutex> hold(mutex_);
            if (abandoned_) {
                return false;
            }
            request = request_.Get();
        }
        call(request);
        std::lock_guard<std::mutex> hold(mutex_);
        return !abandoned_;
    }

    // The transfer's thread ends with this; the caller then reads the outcome.
    void Finish(const TransferOutcome& outcome);
    // Gives the transfer up and cancels its request. False when the transfer
    // had finished already: its outcome stands.
    bool Abandon();
    const TransferOutcome& Outcome() const { return outcome_; }

private:
    std::mutex mutex_;
    bool abandoned_ = false;
    bool done_ = false;
    InternetHandleOwner request_;
    TransferOutcome outcome_;
};

// Runs `transfer` on a new thread and waits for it under `limits` (with a second
// of grace, so a transfer that can end itself does). A transfer given up ends
// as the limit it broke, with one line in the diagnostic log.
TransferOutcome RunWatched(const std::wstring& url, const TransferLimits& limits,
                           std::function<TransferOutcome(TransferContext&)> transfer);

// The diagnostic log's line for a transfer that ended early.
void LogTransferFailure(const TransferOutcome& outcome, const TransferLimits& limits, const wchar_t* note);

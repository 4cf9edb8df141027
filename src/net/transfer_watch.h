// Runs a transfer on a thread of its own while the calling thread watches it.
//
// WinINet's calls block, and a server can keep one of them from ever returning
// (a response head sent a byte at a time restarts every time-out). The caller
// applies the transfer's limits to the bytes it sees moving; when a call
// overstays them, the caller gives the transfer up and returns. The thread then
// touches nothing but what it owns or shares with the caller through the
// context and shared pointers, until it ends or the process does.
#pragma once

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
    // The transfer's thread ends with this; the caller then reads the outcome.
    void Finish(const TransferOutcome& outcome);
    // False when the transfer had finished already: its outcome stands.
    bool Abandon();
    const TransferOutcome& Outcome() const { return outcome_; }

private:
    std::mutex mutex_;
    bool abandoned_ = false;
    bool done_ = false;
    TransferOutcome outcome_;
};

// Runs `transfer` on a new thread and waits for it under `limits` (with a second
// of grace, so a transfer that can end itself does). A transfer given up ends
// as the limit it broke, with one line in the diagnostic log.
TransferOutcome RunWatched(const std::wstring& url, const TransferLimits& limits,
                           std::function<TransferOutcome(TransferContext&)> transfer);

// The diagnostic log's line for a transfer that ended early.
void LogTransferFailure(const TransferOutcome& outcome, const TransferLimits& limits, const wchar_t* note);

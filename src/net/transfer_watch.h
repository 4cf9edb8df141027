// Runs a transfer on a thread of its own while the calling thread watches it.
//
// WinINet's calls block, and a server can keep one of them from ever returning
// (a response head sent a byte at a time restarts every time-out). The caller
// applies the transfer's limits to the bytes it sees moving; when a call
// overstays them, the caller gives the transfer up and returns. The thread is
// left to end on its own: it stops at its next step, touches nothing of the
// caller's (whatever they share is owned through shared pointers), and its
// handles stay open, since closing a request in the middle of a body makes
// Wine's WinINet read the rest of it first.
#pragma once

#include "net/transfer_rules.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

// What the caller and the transfer's thread share.
class TransferContext {
public:
    std::atomic<std::uint64_t> moved{0};        // bytes moved so far, published by the transfer
    std::atomic<std::uint64_t> answerFromMs{0};  // when the request was sent whole and the answer began; 0 before
    std::atomic<std::uint64_t> hopAnsweredMs{0};  // when the last redirect hop answered; 0 before

    // True once the caller has given the transfer up: the thread must stop.
    bool Abandoned() const { return abandoned_.load(); }
    // The transfer's thread ends with this; the caller then reads the outcome.
    void Finish(const TransferOutcome& outcome);
    // Gives the transfer up. False when the transfer had finished already: its outcome stands.
    bool Abandon();
    const TransferOutcome& Outcome() const { return outcome_; }

private:
    std::mutex mutex_;
    std::atomic<bool> abandoned_{false};
    bool done_ = false;
    TransferOutcome outcome_;
};

// Runs `transfer` on a new thread and waits for it under `limits` (with a second
// of grace, so a transfer that can end itself does). An early end, the thread's
// own or a give-up, leaves one line in the diagnostic log.
TransferOutcome RunWatched(const std::wstring& url, const TransferLimits& limits,
                           std::function<TransferOutcome(TransferContext&)> transfer);

// The diagnostic log's line for a transfer that ended early.
void LogTransferFailure(const TransferOutcome& outcome, const TransferLimits& limits, const wchar_t* note);

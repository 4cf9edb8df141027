// One transfer as its thread sees it: the limits, the guard, what it shares
// with the watching caller, and how it ends. Shared by the exchanges and the
// request body writer.
#pragma once

#include "net/transfer_rules.h"
#include "net/transfer_watch.h"

#include <windows.h>

#include <cstdint>
#include <string>

inline std::uint64_t NowMs() { return ::GetTickCount64(); }

struct TransferState {
    TransferState(const TransferLimits& transferLimits, TransferContext& shared, const std::wstring& url)
        : limits(transferLimits), guard(transferLimits, NowMs()), context(shared)
    {
        outcome.where = url;
    }

    // Counts bytes moved, shows them to the watcher and applies the guard.
    TransferEnd Moved(DWORD bytes)
    {
        moved += bytes;
        context.moved.store(moved);
        return guard.Check(NowMs(), moved);
    }

    // Ends the transfer: closes its request and logs an early end (unless the
    // caller, which logs it then, has given it up).
    TransferOutcome Finish(TransferEnd end, DWORD error = 0)
    {
        context.CloseRequest();
        outcome.end = end;
        outcome.error = error;
        if (end != TransferEnd::Complete) {
            context.UnlessAbandoned([&] { LogTransferFailure(outcome, limits, L""); });
        }
        return outcome;
    }

    TransferLimits limits;
    TransferGuard guard;
    TransferContext& context;
    TransferOutcome outcome;
    DWORD timeoutMs = 0;  // of the request under way
    std::uint64_t moved = 0;
};

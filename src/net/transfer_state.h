// One transfer as its thread sees it: the limits, the guard, its own WinINet
// handles, what it shares with the watching caller, and how it ends. Shared by
// the exchanges and the request body writer.
#pragma once

#include "net/transfer_rules.h"
#include "net/transfer_watch.h"
#include "net/wininet_calls.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

inline std::uint64_t NowMs() { return ::GetTickCount64(); }

struct TransferState {
    TransferState(const TransferLimits& transferLimits, TransferContext& shared, const std::wstring& url)
        : limits(transferLimits), guard(transferLimits, NowMs()), context(shared)
    {
        outcome.where = url;
    }
    TransferState(const TransferState&) = delete;
    TransferState& operator=(const TransferState&) = delete;

    // Every handle closes with the state, except those of a hop whose body was
    // left unread, and then the session too: Wine's WinINet would read the rest
    // of that body inside the close.
    ~TransferState()
    {
        bool left = false;
        for (OpenedRequest& hop : hops) {
            if (hop.leaveOpen) {
                LeaveOpen(hop.request);
                LeaveOpen(hop.connection);
                left = true;
            }
        }
        if (left) {
            LeaveOpen(session);
        }
    }

    HINTERNET Request() const { return hops.back().request.Get(); }
    // The request under way stops here: the rest of its body, if any, stays unread.
    void LeaveBodyUnread()
    {
        if (!hops.empty()) {
            hops.back().leaveOpen = true;
        }
    }

    // Counts bytes moved, shows them to the watcher and applies the guard.
    TransferEnd Moved(DWORD bytes)
    {
        moved += bytes;
        context.moved.store(moved);
        return guard.Check(NowMs(), moved);
    }

    // A redirect hop answered: the stall window starts again, here and for the watcher.
    void HopAnswered()
    {
        const std::uint64_t now = NowMs();
        guard.RestartStall(now, moved);
        context.hopAnsweredMs.store(now);
    }

    // The request went out whole: the answer's own time limit starts.
    void AnswerBegins()
    {
        const std::uint64_t now = NowMs();
        guard.StartAnswer(now);
        context.answerFromMs.store(now);
    }

    // Ends the transfer; the caller logs an early end.
    TransferOutcome Finish(TransferEnd end, DWORD error = 0)
    {
        outcome.end = end;
        outcome.error = error;
        outcome.timeoutMs = timeoutMs;
        if (end != TransferEnd::Complete) {
            LeaveBodyUnread();
        }
        return outcome;
    }

    TransferLimits limits;
    TransferGuard guard;
    TransferContext& context;  // lives in the job this thread shares with the caller
    TransferOutcome outcome;
    InternetHandleOwner session;
    std::vector<OpenedRequest> hops;  // one per request, redirects included; the last is under way
    DWORD timeoutMs = 0;  // of the request under way
    std::uint64_t moved = 0;
};

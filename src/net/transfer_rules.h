// The rules every network transfer keeps, on plain values: its limits, the
// stall guard, redirects, completeness, and how an early end is described.
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <string>

// WinSock codes that Wine's WinINet passes on for a reset connection and a time-out.
constexpr DWORD kWsaConnectionReset = 10054;
constexpr DWORD kWsaTimedOut = 10060;

// The longest URL the program handles, in characters without the terminator:
// a longer one is refused, never cut and used.
constexpr std::size_t kMaxUrlChars = 2083;

// Redirects a GET follows, so a try makes at most this many requests plus one.
constexpr int kMaxRedirects = 10;

struct TransferLimits {
    DWORD timeoutMs = 0;            // connect, send and receive, per call; 0: the client's own
    DWORD stallWindowMs = 0;        // fewer than stallMinBytes in any window this long ends it; 0: off
    std::uint64_t stallMinBytes = 1024;
    DWORD overallMs = 0;            // the whole transfer, redirects included; 0: no limit
    DWORD answerMs = 0;             // the answer, head and body, once the request is sent whole; 0: no limit
    std::uint64_t maxBytes = 0;     // longest body accepted; 0: no limit
    int maxRedirects = kMaxRedirects;
};

// The limits this build was made with: production values in a release build,
// shorter ones in the test build.
TransferLimits DefaultTransferLimits();
// The manifest also has an overall time limit and a size limit.
TransferLimits ManifestTransferLimits();
// A crash report: its answer has a time limit of its own.
TransferLimits ReportTransferLimits();

enum class TransferEnd {
    Complete,
    BadUrl,            // not an http(s) URL, or it does not split
    WindowsError,      // a WinINet or file call failed; the error code says why
    TimedOut,          // a connect, send or receive time-out
    HttpStatus,        // an answer other than 200
    ShortBody,         // fewer or more bytes than the announced Content-Length
    BadLength,         // a Content-Length that is not a decimal number
    WrongLength,       // a Content-Length other than the size expected (limits.maxBytes)
    NoLength,          // no Content-Length where a whole body must be told from a cut one
    RangeMismatch,     // a partial answer that does not continue what is stored
    Stalled,           // too few bytes in a stall window
    TooLong,           // over the overall time limit
    AnswerTooLong,     // no whole answer within its time limit after the request went out
    TooLarge,          // over the size limit
    TooManyRedirects,
    RedirectRefused,   // to another scheme than http(s), or from https down to http
    SourceChanged,     // the file being sent grew or shrank meanwhile
    LocalWriteFailed,  // the received bytes could not be stored
};

struct TransferOutcome {
    TransferEnd end = TransferEnd::Complete;
    DWORD status = 0;     // the last HTTP status read, 0 when none
    DWORD error = 0;      // GetLastError() where a call failed
    std::wstring where;   // the URL it happened at (a redirect's target when refused)
    std::wstring retryAfter;  // the Retry-After of a 429 or 503 answer, as sent
    DWORD timeoutMs = 0;      // the time-out set for the last call (the overall limit may cut it short)

    bool Complete() const { return end == TransferEnd::Complete; }
};

// One short line for the diagnostic log, e.g. "HTTP status 404" or
// "stalled: under 1024 bytes in 30 s".
std::wstring DescribeTransferEnd(const TransferOutcome& outcome, const TransferLimits& limits);

// Watches one transfer: the overall time, the size and the stall rule. Times
// are milliseconds of a monotonic clock, bytes the running total moved.
class TransferGuard {
public:
    TransferGuard(const TransferLimits& limits, std::uint64_t startMs);

    // Complete while the transfer may go on; otherwise why it must end.
    TransferEnd Check(std::uint64_t nowMs, std::uint64_t totalBytes);
    // The request went out whole at atMs: from then on the answer's limit runs.
    void StartAnswer(std::uint64_t atMs) { answerFromMs_ = atMs; }
    // A redirect hop answered at atMs: that is progress, and the stall window
    // starts again from there (the hops stay bounded by the redirect count,
    // the time-outs and the overall limit).
    void RestartStall(std::uint64_t atMs, std::uint64_t totalBytes);

    // Milliseconds left of the overall limit (at least 1), or `cap` when less or unlimited.
    DWORD RemainingMs(std::uint64_t nowMs, DWORD cap) const;

private:
    struct Sample {
        std::uint64_t ms;
        std::uint64_t bytes;
    };
    TransferLimits limits_;
    std::uint64_t startMs_;
    std::uint64_t stallFromMs_;
    std::uint64_t answerFromMs_ = 0;
    std::deque<Sample> samples_;  // oldest first; the first is at or before the window's start
};

// How much one read or write asks for: a synchronous call may wait for all of
// it, and the watcher sees progress only between calls. Starts at 1 KiB (a line
// slower than 1 KiB in 30 s is a stalled one) and doubles while calls come back
// full at once, up to 1 MiB; it never stays above half a second's worth at the
// rate of the last half second or more.
class PieceSizer {
public:
    explicit PieceSizer(std::uint64_t startMs) : markMs_(startMs) {}
    DWORD Next() const { return piece_; }
    // What the next read asks for when `available` bytes have arrived already.
    DWORD NextRead(DWORD available) const;
    // One call asked for `asked`, moved `moved` and took from startMs to nowMs.
    void Moved(DWORD asked, DWORD moved, std::uint64_t startMs, std::uint64_t nowMs);

private:
    DWORD piece_ = 1024;
    std::uint64_t markMs_;
    std::uint64_t windowBytes_ = 0;
};

// True for URLs whose scheme is http or https (any letter case) followed by "://".
bool HasHttpScheme(const std::wstring& url);

// Answers that send the client elsewhere.
bool IsRedirectStatus(DWORD status);
// A redirect is followed only to http or https, and never from https down to http.
bool IsAllowedRedirect(const std::wstring& fromUrl, const std::wstring& toUrl);

// A body is complete when no length was announced or exactly that many bytes arrived.
bool IsCompleteBody(bool lengthAnnounced, std::uint64_t announcedLength, std::uint64_t receivedLength);

// The WinINet plumbing of a transfer: the session, connection and request
// handles, time-outs, and what an answer's head says.
#pragma once

#include "net/internet_handle.h"
#include "net/transfer_rules.h"

#include <windows.h>
#include <wininet.h>

#include <cstdint>
#include <optional>
#include <string>

// The agent string; WinINet sends it as the User-Agent of every request.
extern const wchar_t kUserAgent[];

constexpr DWORD kUrlChars = kMaxUrlChars + 1;  // a URL buffer, terminator included
constexpr DWORD kPostPathChars = 256;  // the upload's path with query stays under this

struct HttpTarget {
    bool secure = false;
    INTERNET_PORT port = 0;
    std::wstring host;
    std::wstring path;  // with the query: no buffer is given for the extra information
};

// Splits an http(s) URL whose path with query is shorter than pathChars.
// exactScheme: the scheme must be "http" or "https" as written; else any case.
bool SplitUrl(const std::wstring& url, DWORD pathChars, bool exactScheme, HttpTarget& target);

// Why url cannot be a base URL that file names are appended to; nullopt when it
// can. As Windows' own parser reads it: http or https, a host, no user name or
// password, no query or fragment, a port (when written) that is read as
// written; and printable ASCII only (no blank, no backslash: an
// internationalised host in its xn-- form), ending in '/', under kUrlChars
// characters. The reason never repeats any part of the URL.
std::optional<std::wstring> BaseUrlProblem(const std::wstring& url);

// A session with this build's time-outs, the system's proxy settings and our agent.
InternetHandleOwner OpenSession(const TransferLimits& limits);
// A request and the connection it goes out on; the request is invalid when either could not be made.
struct OpenedRequest {
    InternetHandleOwner connection;
    InternetHandleOwner request;
    bool leaveOpen = false;  // its body is not read to its end: see LeaveOpen
};
// Certificate errors are never ignored; https adds INTERNET_FLAG_SECURE.
OpenedRequest OpenRequest(HINTERNET session, const HttpTarget& target, const wchar_t* verb, DWORD flags);

// Gives a handle up without closing it, for the process to end with: Wine's
// WinINet reads the rest of an unread body inside InternetCloseHandle (to reuse
// the connection), for as long as the server goes on sending. Closing a parent
// closes its children the same way, so a transfer leaves all of its handles.
void LeaveOpen(InternetHandleOwner& handle);

// Connect, send and receive time-outs; warn: a failure goes to standard error.
void SetTimeouts(HINTERNET handle, DWORD timeoutMs, bool warn);

// What a failed call means: a time-out, or another Windows error.
TransferEnd ClassifyError(DWORD error, std::uint64_t elapsedMs, DWORD timeoutMs);
// A request that "succeeded" without an answer (status 0).
TransferEnd NoAnswer(std::uint64_t elapsedMs, DWORD timeoutMs);

bool QueryStatus(HINTERNET request, DWORD& status);
// A header of the answer as text, however long; nullopt when absent.
std::optional<std::wstring> QueryHeader(HINTERNET request, DWORD infoLevel);
// The absolute URL a redirect answer points to, resolved against the URL asked
// for; false when the answer has no Location.
bool RedirectTarget(HINTERNET request, const std::wstring& from, std::wstring& to);

#include "net/http_transfer.h"

#include "base/handle_owner.h"
#include "log/update_log.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <vector>

const wchar_t kUserAgent[] = L"VelmarCrashReport/1.0 (Windows)";

namespace {

constexpr DWORD kPieceBytes = 1024 * 1024;
constexpr DWORD kUrlChars = 2084;      // the longest URL the program handles, terminator included
constexpr DWORD kPostPathChars = 256;  // the upload's path with query stays under this
constexpr DWORD kWsaTimedOut = 10060;

std::uint64_t NowMs() { return ::GetTickCount64(); }

struct HttpTarget {
    bool secure = false;
    INTERNET_PORT port = 0;
    std::wstring host;
    std::wstring path;  // with the query: no buffer is given for the extra information
};

bool SplitUrl(const std::wstring& url, DWORD pathChars, bool exactScheme, HttpTarget& target)
{
    wchar_t scheme[16] = {};
    wchar_t host[256] = {};
    std::vector<wchar_t> path(pathChars, L'\0');
    URL_COMPONENTSW parts = {};
    parts.dwStructSize = sizeof parts;
    parts.lpszScheme = scheme;
    parts.dwSchemeLength = 16;
    parts.lpszHostName = host;
    parts.dwHostNameLength = 256;
    parts.lpszUrlPath = path.data();
    parts.dwUrlPathLength = pathChars;
    if (!::InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) {
        return false;
    }
    std::wstring name(scheme);
    if (!exactScheme) {
        std::transform(name.begin(), name.end(), name.begin(), [](wchar_t c) { return std::towlower(c); });
    }
    if (name == L"https") {
        target.secure = true;
    } else if (name == L"http") {
        target.secure = false;
    } else {
        return false;
    }
    target.port = parts.nPort;
    target.host = host;
    target.path = path.data();
    return !target.host.empty();
}

void SetTimeouts(HINTERNET handle, DWORD timeoutMs, bool warn)
{
    if (timeoutMs == 0) {
        return;
    }
    const struct {
        DWORD option;
        const char* warning;
    } options[] = {
        {INTERNET_OPTION_CONNECT_TIMEOUT, "Could not set connect timeout, continuing...\n"},
        {INTERNET_OPTION_SEND_TIMEOUT, "Could not set send timeout, continuing...\n"},
        {INTERNET_OPTION_RECEIVE_TIMEOUT, "Could not set receive timeout, continuing...\n"},
    };
    for (const auto& o : options) {
        DWORD value = timeoutMs;
        if (!::InternetSetOptionW(handle, o.option, &value, sizeof value) && warn) {
            std::fputs(o.warning, stderr);
        }
    }
}

// Wine reports a time-out on a request handle as 12030 or 10060, Windows as 12002;
// a failure that took the whole time-out is one too.
TransferEnd Classify(DWORD error, std::uint64_t elapsedMs, DWORD timeoutMs)
{
    if (error == ERROR_INTERNET_TIMEOUT || error == kWsaTimedOut) {
        return TransferEnd::TimedOut;
    }
    if (timeoutMs != 0 && elapsedMs + 250 >= timeoutMs &&
        (error == ERROR_INTERNET_CONNECTION_ABORTED || error == ERROR_INTERNET_CONNECTION_RESET)) {
        return TransferEnd::TimedOut;
    }
    return TransferEnd::WindowsError;
}

bool QueryStatus(HINTERNET request, DWORD& status)
{
    DWORD size = sizeof status;
    return ::HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr) != 0;
}

bool QueryContentLength(HINTERNET request, std::uint64_t& length)
{
    wchar_t text[32] = {};
    DWORD size = sizeof text;
    if (!::HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, text, &size, nullptr)) {
        return false;
    }
    length = std::wcstoull(text, nullptr, 10);
    return true;
}

// The absolute URL a redirect answer points to, resolved against the URL asked for.
bool RedirectTarget(HINTERNET request, const std::wstring& from, std::wstring& to)
{
    std::vector<wchar_t> location(kUrlChars, L'\0');
    DWORD size = kUrlChars * sizeof(wchar_t);
    if (!::HttpQueryInfoW(request, HTTP_QUERY_LOCATION, location.data(), &size, nullptr)) {
        return false;
    }
    std::vector<wchar_t> combined(kUrlChars, L'\0');
    DWORD chars = kUrlChars;
    if (!::InternetCombineUrlW(from.c_str(), location.data(), combined.data(), &chars, ICU_NO_ENCODE)) {
        to = location.data();
        return true;  // not resolvable: the redirect rule refuses it
    }
    to = combined.data();
    return true;
}

struct OpenedRequest {
    InternetHandleOwner connection;
    InternetHandleOwner request;
};

bool OpenRequest(HINTERNET session, const HttpTarget& target, const wchar_t* verb, DWORD flags,
                 OpenedRequest& opened)
{
    opened.connection.Reset(::InternetConnectW(session, target.host.c_str(), target.port, nullptr, nullptr,
                                               INTERNET_SERVICE_HTTP, 0, 0));
    if (!opened.connection) {
        return false;
    }
    // Certificate errors are never ignored: no INTERNET_FLAG_IGNORE_CERT_* flag.
    opened.request.Reset(::HttpOpenRequestW(opened.connection.Get(), verb, target.path.c_str(), nullptr, nullptr,
                                            nullptr, flags | (target.secure ? INTERNET_FLAG_SECURE : 0), 0));
    return static_cast<bool>(opened.request);
}

// Reads the body to its end in pieces of what is available now, so a slow
// server returns control to the guard after every piece.
TransferEnd ReadBody(HINTERNET request, TransferGuard& guard, std::uint64_t& moved, std::uint64_t& received,
                     ResponseSink& sink, DWORD timeoutMs, DWORD& error)
{
    std::vector<char> buffer;
    for (;;) {
        DWORD available = 0;
        std::uint64_t started = NowMs();
        if (!::InternetQueryDataAvailable(request, &available, 0, 0)) {
            error = ::GetLastError();
            return Classify(error, NowMs() - started, timeoutMs);
        }
        if (available == 0) {
            return TransferEnd::Complete;
        }
        const DWORD want = std::min(available, kPieceBytes);
        if (buffer.size() < want) {
            buffer.resize(want);
        }
        DWORD got = 0;
        started = NowMs();
        if (!::InternetReadFile(request, buffer.data(), want, &got)) {
            error = ::GetLastError();
            return Classify(error, NowMs() - started, timeoutMs);
        }
        if (got == 0) {
            return TransferEnd::Complete;
        }
        moved += got;
        received += got;
        const TransferEnd end = guard.Check(NowMs(), moved);
        if (end != TransferEnd::Complete) {
            return end;
        }
        if (!sink.Write(buffer.data(), got)) {
            error = ::GetLastError();
            return TransferEnd::LocalWriteFailed;
        }
    }
}

// Reads a 200 answer's body into the sink and checks it against its Content-Length.
TransferEnd ReceiveBody(HINTERNET request, const TransferLimits& limits, TransferGuard& guard, std::uint64_t& moved,
                        ResponseSink& sink, DWORD timeoutMs, DWORD& error)
{
    std::uint64_t announced = 0;
    const bool lengthAnnounced = QueryContentLength(request, announced);
    if (lengthAnnounced && limits.maxBytes != 0 && announced > limits.maxBytes) {
        return TransferEnd::TooLarge;
    }
    if (!sink.Begin()) {
        error = ::GetLastError();
        return TransferEnd::LocalWriteFailed;
    }
    std::uint64_t received = 0;
    const TransferEnd end = ReadBody(request, guard, moved, received, sink, timeoutMs, error);
    if (end != TransferEnd::Complete) {
        return end;
    }
    return IsCompleteBody(lengthAnnounced, announced, received) ? TransferEnd::Complete : TransferEnd::ShortBody;
}

TransferOutcome Finish(TransferOutcome& outcome, const TransferLimits& limits, TransferEnd end, DWORD error = 0)
{
    outcome.end = end;
    outcome.error = error;
    if (end != TransferEnd::Complete) {
        g_updateLog.Stream() << L" TransferFailed:" << outcome.where << L" " << DescribeTransferEnd(outcome, limits);
    }
    return outcome;
}

InternetHandleOwner OpenSession(const TransferLimits& limits)
{
    InternetHandleOwner session(::InternetOpenW(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (session) {
        // Windows honours time-outs here; Wine only on the request handle, set there too.
        SetTimeouts(session.Get(), limits.timeoutMs, false);
    }
    return session;
}

}  // namespace

bool RequestBodyWriter::Write(const void* data, std::size_t size)
{
    const char* next = static_cast<const char*>(data);
    while (size > 0) {
        const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(size, kPieceBytes));
        DWORD written = 0;
        const std::uint64_t started = NowMs();
        const BOOL sent = ::InternetWriteFile(request_, next, piece, &written);
        const DWORD error = sent ? ERROR_WRITE_FAULT : ::GetLastError();
        if (!sent || written == 0) {
            Fail(Classify(error, NowMs() - started, timeoutMs_), error);
            return false;
        }
        next += written;
        size -= written;
        moved_ += written;
        const TransferEnd end = guard_.Check(NowMs(), moved_);
        if (end != TransferEnd::Complete) {
            Fail(end, 0);
            return false;
        }
    }
    return true;
}

void RequestBodyWriter::Fail(TransferEnd end, DWORD error)
{
    outcome_.end = end;
    outcome_.error = error;
}

TransferOutcome HttpGet(const std::wstring& url, const TransferLimits& limits, ResponseSink& sink)
{
    TransferOutcome outcome;
    outcome.where = url;
    TransferGuard guard(limits, NowMs());
    if (!HasHttpScheme(url)) {
        return Finish(outcome, limits, TransferEnd::BadUrl);
    }
    InternetHandleOwner session = OpenSession(limits);
    if (!session) {
        return Finish(outcome, limits, TransferEnd::WindowsError, ::GetLastError());
    }
    // Always ask the server, and keep everything out of the cache: an old
    // manifest would hide an update, and a cached package doubles the disk use.
    const DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_UI |
                        INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_AUTO_REDIRECT;
    std::uint64_t moved = 0;
    for (int redirects = 0;; ++redirects) {
        HttpTarget target;
        if (!SplitUrl(outcome.where, kUrlChars, false, target)) {
            return Finish(outcome, limits, TransferEnd::BadUrl);
        }
        OpenedRequest opened;
        if (!OpenRequest(session.Get(), target, L"GET", flags, opened)) {
            return Finish(outcome, limits, TransferEnd::WindowsError, ::GetLastError());
        }
        const DWORD timeoutMs = guard.RemainingMs(NowMs(), limits.timeoutMs);
        SetTimeouts(opened.request.Get(), timeoutMs, true);
        const std::uint64_t started = NowMs();
        if (!::HttpSendRequestW(opened.request.Get(), nullptr, 0, nullptr, 0)) {
            const DWORD error = ::GetLastError();
            return Finish(outcome, limits, Classify(error, NowMs() - started, timeoutMs), error);
        }
        if (!QueryStatus(opened.request.Get(), outcome.status)) {
            return Finish(outcome, limits, TransferEnd::WindowsError, ::GetLastError());
        }
        if (IsRedirectStatus(outcome.status)) {
            std::wstring next;
            if (!RedirectTarget(opened.request.Get(), outcome.where, next)) {
                return Finish(outcome, limits, TransferEnd::HttpStatus);  // no Location: just another answer
            }
            if (!IsAllowedRedirect(outcome.where, next)) {
                outcome.where = next;
                return Finish(outcome, limits, TransferEnd::RedirectRefused);
            }
            if (redirects >= limits.maxRedirects) {
                return Finish(outcome, limits, TransferEnd::TooManyRedirects);
            }
            const TransferEnd end = guard.Check(NowMs(), moved);
            if (end != TransferEnd::Complete) {
                return Finish(outcome, limits, end);
            }
            outcome.where = next;
            continue;
        }
        if (outcome.status != 200) {
            return Finish(outcome, limits, TransferEnd::HttpStatus);
        }
        DWORD error = 0;
        const TransferEnd end = ReceiveBody(opened.request.Get(), limits, guard, moved, sink, timeoutMs, error);
        return Finish(outcome, limits, end, error);
    }
}

TransferOutcome HttpPost(const HttpPostRequest& post, const TransferLimits& limits, ResponseSink& sink)
{
    TransferOutcome outcome;
    outcome.where = post.url;
    TransferGuard guard(limits, NowMs());
    HttpTarget target;
    if (!SplitUrl(post.url, kPostPathChars, true, target)) {
        return Finish(outcome, limits, TransferEnd::BadUrl);
    }
    if (post.bodyLength > 0xFFFFFFFFull) {
        return Finish(outcome, limits, TransferEnd::TooLarge);  // the announced length is 32 bits
    }
    InternetHandleOwner session = OpenSession(limits);
    if (!session) {
        return Finish(outcome, limits, TransferEnd::WindowsError, ::GetLastError());
    }
    OpenedRequest opened;
    if (!OpenRequest(session.Get(), target, L"POST", INTERNET_FLAG_NO_AUTO_REDIRECT, opened)) {
        return Finish(outcome, limits, TransferEnd::WindowsError, ::GetLastError());
    }
    ::HttpAddRequestHeadersW(opened.request.Get(), post.contentTypeHeader.c_str(), static_cast<DWORD>(-1),
                             HTTP_ADDREQ_FLAG_ADD);
    SetTimeouts(opened.request.Get(), limits.timeoutMs, true);

    INTERNET_BUFFERSW buffers = {};
    buffers.dwStructSize = sizeof buffers;
    buffers.dwBufferTotal = static_cast<DWORD>(post.bodyLength);
    std::uint64_t started = NowMs();
    if (!::HttpSendRequestExW(opened.request.Get(), &buffers, nullptr, 0, 0)) {
        const DWORD error = ::GetLastError();
        return Finish(outcome, limits, Classify(error, NowMs() - started, limits.timeoutMs), error);
    }
    std::uint64_t moved = 0;
    RequestBodyWriter writer(opened.request.Get(), guard, moved, outcome, limits.timeoutMs);
    if (!post.sendBody(writer)) {
        // The body stops short of its announced length: the server sees an incomplete request.
        return Finish(outcome, limits, outcome.end, outcome.error);
    }
    started = NowMs();
    if (!::HttpEndRequestW(opened.request.Get(), nullptr, 0, 0)) {
        const DWORD error = ::GetLastError();
        return Finish(outcome, limits, Classify(error, NowMs() - started, limits.timeoutMs), error);
    }
    if (!QueryStatus(opened.request.Get(), outcome.status)) {
        return Finish(outcome, limits, TransferEnd::WindowsError, ::GetLastError());
    }
    if (outcome.status != 200) {
        return Finish(outcome, limits, TransferEnd::HttpStatus);
    }
    DWORD error = 0;
    const TransferEnd end = ReceiveBody(opened.request.Get(), limits, guard, moved, sink, limits.timeoutMs, error);
    return Finish(outcome, limits, end, error);
}

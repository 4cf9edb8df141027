#include "net/http_transfer.h"

#include "base/handle_owner.h"
#include "net/transfer_watch.h"

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

// Wine "succeeds" when the wait for an answer ends without one, and reports
// status 0; it was a time-out when it took the whole time-out.
TransferEnd NoAnswer(std::uint64_t elapsedMs, DWORD timeoutMs)
{
    return timeoutMs != 0 && elapsedMs + 250 >= timeoutMs ? TransferEnd::TimedOut : TransferEnd::WindowsError;
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

// One transfer, on its own thread.
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

    TransferOutcome Finish(TransferEnd end, DWORD error = 0)
    {
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
    HINTERNET request = nullptr;
    DWORD timeoutMs = 0;
    std::uint64_t moved = 0;
    PieceSizer uploadPieces{NowMs()};
};

namespace {

// Reads the body to its end. A synchronous read waits until all it asked for
// has come, and the guard and the watcher see progress only between reads: so
// each read asks for what has arrived, or for more only as far as the line
// keeps up (see PieceSizer).
TransferEnd ReadBody(TransferState& state, ResponseSink& sink, std::uint64_t& received, DWORD& error)
{
    std::vector<char> buffer;
    PieceSizer sizer(NowMs());
    for (;;) {
        DWORD available = 0;
        const std::uint64_t started = NowMs();
        if (!::InternetQueryDataAvailable(state.request, &available, 0, 0)) {
            error = ::GetLastError();
            return Classify(error, NowMs() - started, state.timeoutMs);
        }
        if (available == 0) {
            return TransferEnd::Complete;
        }
        const DWORD want = std::min(kPieceBytes, std::max(available, sizer.Next()));
        if (buffer.size() < want) {
            buffer.resize(want);
        }
        DWORD got = 0;
        if (!::InternetReadFile(state.request, buffer.data(), want, &got)) {
            error = ::GetLastError();
            return Classify(error, NowMs() - started, state.timeoutMs);
        }
        if (got == 0) {
            return TransferEnd::Complete;
        }
        sizer.Moved(want, got, started, NowMs());
        received += got;
        const TransferEnd end = state.Moved(got);
        if (end != TransferEnd::Complete) {
            return end;
        }
        bool written = false;
        const auto write = [&] {
            written = sink.Write(buffer.data(), got);
            error = written ? 0 : ::GetLastError();  // before the lock is let go
        };
        if (!state.context.UnlessAbandoned(write)) {
            return TransferEnd::Stalled;  // given up by the caller, which no longer listens
        }
        if (!written) {
            return TransferEnd::LocalWriteFailed;
        }
    }
}

// Reads a 200 answer's body into the sink and checks it against its Content-Length.
TransferEnd ReceiveBody(TransferState& state, ResponseSink& sink, DWORD& error)
{
    std::uint64_t announced = 0;
    const bool lengthAnnounced = QueryContentLength(state.request, announced);
    if (lengthAnnounced && state.limits.maxBytes != 0 && announced > state.limits.maxBytes) {
        return TransferEnd::TooLarge;
    }
    bool begun = false;
    const auto begin = [&] {
        begun = sink.Begin();
        error = begun ? 0 : ::GetLastError();
    };
    if (!state.context.UnlessAbandoned(begin)) {
        return TransferEnd::Stalled;
    }
    if (!begun) {
        return TransferEnd::LocalWriteFailed;
    }
    std::uint64_t received = 0;
    const TransferEnd end = ReadBody(state, sink, received, error);
    if (end != TransferEnd::Complete) {
        return end;
    }
    return IsCompleteBody(lengthAnnounced, announced, received) ? TransferEnd::Complete : TransferEnd::ShortBody;
}

// After a request went out: the status, then the body of a 200 answer.
TransferOutcome FinishExchange(TransferState& state, ResponseSink& sink, std::uint64_t sentAt)
{
    if (!QueryStatus(state.request, state.outcome.status)) {
        return state.Finish(TransferEnd::WindowsError, ::GetLastError());
    }
    if (state.outcome.status == 0) {
        return state.Finish(NoAnswer(NowMs() - sentAt, state.timeoutMs), ERROR_HTTP_INVALID_SERVER_RESPONSE);
    }
    if (state.outcome.status != 200) {
        return state.Finish(TransferEnd::HttpStatus);
    }
    DWORD error = 0;
    const TransferEnd end = ReceiveBody(state, sink, error);
    return state.Finish(end, error);
}

TransferOutcome GetOnThisThread(TransferState& state, ResponseSink& sink)
{
    if (!HasHttpScheme(state.outcome.where)) {
        return state.Finish(TransferEnd::BadUrl);
    }
    InternetHandleOwner session = OpenSession(state.limits);
    if (!session) {
        return state.Finish(TransferEnd::WindowsError, ::GetLastError());
    }
    // Always ask the server, and keep everything out of the cache: an old
    // manifest would hide an update, and a cached package doubles the disk use.
    const DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_UI |
                        INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_AUTO_REDIRECT;
    for (int redirects = 0;; ++redirects) {
        HttpTarget target;
        if (!SplitUrl(state.outcome.where, kUrlChars, false, target)) {
            return state.Finish(TransferEnd::BadUrl);
        }
        OpenedRequest opened;
        if (!OpenRequest(session.Get(), target, L"GET", flags, opened)) {
            return state.Finish(TransferEnd::WindowsError, ::GetLastError());
        }
        state.request = opened.request.Get();
        state.timeoutMs = state.guard.RemainingMs(NowMs(), state.limits.timeoutMs);
        SetTimeouts(state.request, state.timeoutMs, true);
        const std::uint64_t sentAt = NowMs();
        if (!::HttpSendRequestW(state.request, nullptr, 0, nullptr, 0)) {
            const DWORD error = ::GetLastError();
            return state.Finish(Classify(error, NowMs() - sentAt, state.timeoutMs), error);
        }
        DWORD status = 0;
        if (QueryStatus(state.request, status) && IsRedirectStatus(status)) {
            state.outcome.status = status;
            std::wstring next;
            if (!RedirectTarget(state.request, state.outcome.where, next)) {
                return state.Finish(TransferEnd::HttpStatus);  // no Location: just another answer
            }
            if (!IsAllowedRedirect(state.outcome.where, next)) {
                state.outcome.where = next;
                return state.Finish(TransferEnd::RedirectRefused);
            }
            if (redirects >= state.limits.maxRedirects) {
                return state.Finish(TransferEnd::TooManyRedirects);
            }
            const TransferEnd end = state.Moved(0);
            if (end != TransferEnd::Complete) {
                return state.Finish(end);
            }
            state.outcome.where = next;
            continue;
        }
        return FinishExchange(state, sink, sentAt);
    }
}

TransferOutcome PostOnThisThread(TransferState& state, const HttpPostRequest& post, ResponseSink& sink)
{
    HttpTarget target;
    if (!SplitUrl(post.url, kPostPathChars, true, target)) {
        return state.Finish(TransferEnd::BadUrl);
    }
    if (post.bodyLength > 0xFFFFFFFFull) {
        return state.Finish(TransferEnd::TooLarge);  // the announced length is 32 bits
    }
    InternetHandleOwner session = OpenSession(state.limits);
    if (!session) {
        return state.Finish(TransferEnd::WindowsError, ::GetLastError());
    }
    OpenedRequest opened;
    if (!OpenRequest(session.Get(), target, L"POST", INTERNET_FLAG_NO_AUTO_REDIRECT, opened)) {
        return state.Finish(TransferEnd::WindowsError, ::GetLastError());
    }
    state.request = opened.request.Get();
    state.timeoutMs = state.limits.timeoutMs;
    ::HttpAddRequestHeadersW(state.request, post.contentTypeHeader.c_str(), static_cast<DWORD>(-1),
                             HTTP_ADDREQ_FLAG_ADD);
    SetTimeouts(state.request, state.timeoutMs, true);

    INTERNET_BUFFERSW buffers = {};
    buffers.dwStructSize = sizeof buffers;
    buffers.dwBufferTotal = static_cast<DWORD>(post.bodyLength);
    std::uint64_t started = NowMs();
    if (!::HttpSendRequestExW(state.request, &buffers, nullptr, 0, 0)) {
        const DWORD error = ::GetLastError();
        return state.Finish(Classify(error, NowMs() - started, state.timeoutMs), error);
    }
    RequestBodyWriter writer(state);
    if (!post.sendBody(writer)) {
        // The body stops short of its announced length: the server sees an incomplete request.
        return state.Finish(state.outcome.end, state.outcome.error);
    }
    started = NowMs();
    if (!::HttpEndRequestW(state.request, nullptr, 0, 0)) {
        const DWORD error = ::GetLastError();
        return state.Finish(Classify(error, NowMs() - started, state.timeoutMs), error);
    }
    return FinishExchange(state, sink, started);
}

}  // namespace

bool RequestBodyWriter::Write(const void* data, std::size_t size)
{
    const char* next = static_cast<const char*>(data);
    while (size > 0) {
        const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(size, state_.uploadPieces.Next()));
        DWORD written = 0;
        const std::uint64_t started = NowMs();
        const BOOL sent = ::InternetWriteFile(state_.request, next, piece, &written);
        const DWORD error = sent ? ERROR_WRITE_FAULT : ::GetLastError();
        const std::uint64_t elapsed = NowMs() - started;
        if (!sent || written == 0) {
            Fail(Classify(error, elapsed, state_.timeoutMs), error);
            return false;
        }
        state_.uploadPieces.Moved(piece, written, started, started + elapsed);
        next += written;
        size -= written;
        const TransferEnd end = state_.Moved(written);
        if (end != TransferEnd::Complete) {
            Fail(end, 0);
            return false;
        }
    }
    return true;
}

void RequestBodyWriter::Fail(TransferEnd end, DWORD error)
{
    state_.outcome.end = end;
    state_.outcome.error = error;
}

TransferOutcome HttpGet(const std::wstring& url, const TransferLimits& limits, std::shared_ptr<ResponseSink> sink)
{
    return RunWatched(url, limits, [url, limits, sink](TransferContext& context) {
        TransferState state(limits, context, url);
        return GetOnThisThread(state, *sink);
    });
}

TransferOutcome HttpPost(const HttpPostRequest& post, const TransferLimits& limits, std::shared_ptr<ResponseSink> sink)
{
    return RunWatched(post.url, limits, [post, limits, sink](TransferContext& context) {
        TransferState state(limits, context, post.url);
        return PostOnThisThread(state, post, *sink);
    });
}

#include "net/http_exchange.h"

#include "base/decimal_text.h"
#include "net/transfer_state.h"
#include "net/transfer_watch.h"
#include "net/wininet_calls.h"

#include <algorithm>
#include <vector>

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
        BOOL asked = FALSE;
        const std::uint64_t started = NowMs();
        if (!state.context.OnRequest([&](HINTERNET request) {
                asked = ::InternetQueryDataAvailable(request, &available, 0, 0);
                error = asked ? 0 : ::GetLastError();
            })) {
            return TransferEnd::Stalled;  // given up by the caller, which no longer listens
        }
        if (!asked) {
            return ClassifyError(error, NowMs() - started, state.timeoutMs);
        }
        if (available == 0) {
            return TransferEnd::Complete;
        }
        const DWORD want = sizer.NextRead(available);
        if (buffer.size() < want) {
            buffer.resize(want);
        }
        DWORD got = 0;
        BOOL read = FALSE;
        if (!state.context.OnRequest([&](HINTERNET request) {
                read = ::InternetReadFile(request, buffer.data(), want, &got);
                error = read ? 0 : ::GetLastError();
            })) {
            return TransferEnd::Stalled;
        }
        if (!read) {
            return ClassifyError(error, NowMs() - started, state.timeoutMs);
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
        TransferEnd written = TransferEnd::Complete;
        const auto write = [&] {
            written = sink.Write(buffer.data(), got);
            error = written == TransferEnd::Complete ? 0 : ::GetLastError();  // before the lock is let go
        };
        if (!state.context.UnlessAbandoned(write)) {
            return TransferEnd::Stalled;
        }
        if (written != TransferEnd::Complete) {
            return written;
        }
    }
}

// The head of the answer; false when its Content-Length is not a number.
bool ReadHead(TransferState& state, ResponseHead& head)
{
    head.status = state.outcome.status;
    std::optional<std::wstring> length;
    state.context.OnRequest([&](HINTERNET request) {
        // However many digits it has: leading zeros make no other number.
        length = QueryHeader(request, HTTP_QUERY_CONTENT_LENGTH);
        head.contentRange = QueryHeader(request, HTTP_QUERY_CONTENT_RANGE).value_or(L"");
        head.etag = QueryHeader(request, HTTP_QUERY_ETAG).value_or(L"");
        head.lastModified = QueryHeader(request, HTTP_QUERY_LAST_MODIFIED).value_or(L"");
    });
    if (length) {
        head.contentLength = ParsePlainDecimal(*length);
        return head.contentLength.has_value();
    }
    return true;
}

// Reads the body of the answer into the sink and checks it against its Content-Length.
TransferEnd ReceiveBody(TransferState& state, ResponseSink& sink, DWORD& error)
{
    ResponseHead head;
    if (!ReadHead(state, head)) {
        return TransferEnd::BadLength;
    }
    if (head.contentLength && state.limits.maxBytes != 0 && *head.contentLength > state.limits.maxBytes) {
        return TransferEnd::TooLarge;
    }
    TransferEnd begun = TransferEnd::Complete;
    const auto begin = [&] {
        begun = sink.Begin(head);
        error = begun == TransferEnd::Complete ? 0 : ::GetLastError();
    };
    if (!state.context.UnlessAbandoned(begin)) {
        return TransferEnd::Stalled;
    }
    if (begun != TransferEnd::Complete) {
        return begun;
    }
    std::uint64_t received = 0;
    const TransferEnd end = ReadBody(state, sink, received, error);
    if (end != TransferEnd::Complete) {
        return end;
    }
    return IsCompleteBody(head.contentLength.has_value(), head.contentLength.value_or(0), received)
               ? TransferEnd::Complete
               : TransferEnd::ShortBody;
}

// After a request went out: the status, then the body of a 200 (or 206) answer.
TransferOutcome FinishExchange(TransferState& state, ResponseSink& sink, std::uint64_t sentAt)
{
    bool known = false;
    DWORD error = 0;
    state.context.OnRequest([&](HINTERNET request) {
        known = QueryStatus(request, state.outcome.status);
        error = known ? 0 : ::GetLastError();
    });
    if (!known) {
        return state.Finish(TransferEnd::WindowsError, error);
    }
    if (state.outcome.status == 0) {
        return state.Finish(NoAnswer(NowMs() - sentAt, state.timeoutMs), ERROR_HTTP_INVALID_SERVER_RESPONSE);
    }
    if (state.outcome.status != 200 && state.outcome.status != 206) {
        if (state.outcome.status == 429 || state.outcome.status == 503) {
            state.context.OnRequest([&](HINTERNET request) {
                state.outcome.retryAfter = QueryHeader(request, HTTP_QUERY_RETRY_AFTER).value_or(L"");
            });
        }
        return state.Finish(TransferEnd::HttpStatus);
    }
    const TransferEnd end = ReceiveBody(state, sink, error);
    return state.Finish(end, error);
}

// Sends the request held by the context; false when it failed or was given up.
bool Send(TransferState& state, const std::function<BOOL(HINTERNET)>& send, TransferOutcome& failed)
{
    BOOL sent = FALSE;
    DWORD error = 0;
    const std::uint64_t started = NowMs();
    if (!state.context.OnRequest([&](HINTERNET request) {
            sent = send(request);
            error = sent ? 0 : ::GetLastError();
        })) {
        failed = state.Finish(TransferEnd::Stalled);
        return false;
    }
    if (!sent) {
        failed = state.Finish(ClassifyError(error, NowMs() - started, state.timeoutMs), error);
        return false;
    }
    return true;
}

TransferOutcome GetOnThisThread(TransferState& state, ResponseSink& sink, const std::wstring& headers)
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
        OpenedRequest opened = OpenRequest(session.Get(), target, L"GET", flags);
        if (!opened.request) {
            return state.Finish(TransferEnd::WindowsError, ::GetLastError());
        }
        state.timeoutMs = state.guard.RemainingMs(NowMs(), state.limits.timeoutMs);
        SetTimeouts(opened.request.Get(), state.timeoutMs, true);
        if (!state.context.HoldRequest(std::move(opened.request))) {
            return state.Finish(TransferEnd::Stalled);
        }
        const std::uint64_t sentAt = NowMs();
        TransferOutcome failed;
        const auto send = [&headers](HINTERNET r) {
            return ::HttpSendRequestW(r, headers.empty() ? nullptr : headers.c_str(), static_cast<DWORD>(headers.size()),
                                      nullptr, 0);
        };
        if (!Send(state, send, failed)) {
            return failed;
        }
        DWORD status = 0;
        bool redirected = false;
        std::wstring next;
        bool located = false;
        state.context.OnRequest([&](HINTERNET r) {
            redirected = QueryStatus(r, status) && IsRedirectStatus(status);
            located = redirected && RedirectTarget(r, state.outcome.where, next);
        });
        if (!redirected) {
            return FinishExchange(state, sink, sentAt);
        }
        state.outcome.status = status;
        if (!located) {
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
        state.context.CloseRequest();
        state.outcome.where = next;
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
    OpenedRequest opened = OpenRequest(session.Get(), target, L"POST", INTERNET_FLAG_NO_AUTO_REDIRECT);
    if (!opened.request) {
        return state.Finish(TransferEnd::WindowsError, ::GetLastError());
    }
    state.timeoutMs = state.limits.timeoutMs;
    ::HttpAddRequestHeadersW(opened.request.Get(), post.contentTypeHeader.c_str(), static_cast<DWORD>(-1),
                             HTTP_ADDREQ_FLAG_ADD);
    SetTimeouts(opened.request.Get(), state.timeoutMs, true);
    if (!state.context.HoldRequest(std::move(opened.request))) {
        return state.Finish(TransferEnd::Stalled);
    }

    INTERNET_BUFFERSW buffers = {};
    buffers.dwStructSize = sizeof buffers;
    buffers.dwBufferTotal = static_cast<DWORD>(post.bodyLength);
    TransferOutcome failed;
    if (!Send(state, [&](HINTERNET r) { return ::HttpSendRequestExW(r, &buffers, nullptr, 0, 0); }, failed)) {
        return failed;
    }
    RequestBodyWriter writer(state);
    if (!post.sendBody(writer)) {
        // The body stops short of its announced length: the server sees an incomplete request.
        return state.Finish(state.outcome.end, state.outcome.error);
    }
    const std::uint64_t ended = NowMs();
    if (!Send(state, [](HINTERNET r) { return ::HttpEndRequestW(r, nullptr, 0, 0); }, failed)) {
        return failed;
    }
    return FinishExchange(state, sink, ended);
}

}  // namespace

TransferOutcome HttpGet(const std::wstring& url, const TransferLimits& limits, std::shared_ptr<ResponseSink> sink,
                        const std::wstring& headers)
{
    return RunWatched(url, limits, [url, limits, sink, headers](TransferContext& context) {
        TransferState state(limits, context, url);
        return GetOnThisThread(state, *sink, headers);
    });
}

TransferOutcome HttpPost(const HttpPostRequest& post, const TransferLimits& limits, std::shared_ptr<ResponseSink> sink)
{
    return RunWatched(post.url, limits, [post, limits, sink](TransferContext& context) {
        TransferState state(limits, context, post.url);
        return PostOnThisThread(state, post, *sink);
    });
}

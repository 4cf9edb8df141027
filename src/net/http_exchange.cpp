#include "net/http_exchange.h"

#include "base/decimal_text.h"
#include "net/transfer_state.h"
#include "net/transfer_watch.h"
#include "net/wininet_calls.h"

#include <algorithm>
#include <vector>

namespace {

// A call on the request, or a step between calls, found the transfer given up.
TransferEnd GivenUp() { return TransferEnd::Stalled; }

// Reads the body to its end, or until the sink has all it wants (satisfied: the
// rest stays unread). A synchronous read waits until all it asked for has come,
// and the guard and the watcher see progress only between reads: so each read
// asks for what has arrived, or for more only as far as the line keeps up (see PieceSizer).
TransferEnd ReadBody(TransferState& state, ResponseSink& sink, std::uint64_t& received, DWORD& error, bool& satisfied)
{
    std::vector<char> buffer;
    PieceSizer sizer(NowMs());
    for (;;) {
        DWORD available = 0;
        const std::uint64_t started = NowMs();
        const BOOL asked = ::InternetQueryDataAvailable(state.Request(), &available, 0, 0);
        error = asked ? 0 : ::GetLastError();
        if (state.context.Abandoned()) {
            return GivenUp();  // the caller no longer listens
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
        const BOOL read = ::InternetReadFile(state.Request(), buffer.data(), want, &got);
        error = read ? 0 : ::GetLastError();
        if (state.context.Abandoned()) {
            return GivenUp();
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
        const SinkStep written = sink.Write(buffer.data(), got);
        if (written.end != TransferEnd::Complete) {
            error = written.error;
            return written.end;
        }
        if (!sink.WantsMore()) {
            state.LeaveBodyUnread();
            satisfied = true;
            return TransferEnd::Complete;
        }
    }
}

// The head of the answer; false when its Content-Length is not a number.
bool ReadHead(TransferState& state, ResponseHead& head)
{
    head.status = state.outcome.status;
    // However many digits it has: leading zeros make no other number.
    const std::optional<std::wstring> length = QueryHeader(state.Request(), HTTP_QUERY_CONTENT_LENGTH);
    head.contentRange = QueryHeader(state.Request(), HTTP_QUERY_CONTENT_RANGE).value_or(L"");
    head.etag = QueryHeader(state.Request(), HTTP_QUERY_ETAG).value_or(L"");
    head.lastModified = QueryHeader(state.Request(), HTTP_QUERY_LAST_MODIFIED).value_or(L"");
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
    if (state.context.Abandoned()) {
        return GivenUp();
    }
    const SinkStep begun = sink.Begin(head);
    if (begun.end != TransferEnd::Complete) {
        error = begun.error;
        return begun.end;
    }
    std::uint64_t received = 0;
    bool satisfied = false;
    const TransferEnd end = ReadBody(state, sink, received, error, satisfied);
    if (end != TransferEnd::Complete || satisfied) {
        return end;
    }
    if (!IsCompleteBody(head.contentLength.has_value(), head.contentLength.value_or(0), received)) {
        return TransferEnd::ShortBody;
    }
    return sink.End();
}

// After a request went out: the status, then the body of a 200 (or 206) answer.
TransferOutcome FinishExchange(TransferState& state, ResponseSink& sink, std::uint64_t sentAt)
{
    const bool known = QueryStatus(state.Request(), state.outcome.status);
    const DWORD error = known ? 0 : ::GetLastError();
    if (!known) {
        return state.Finish(TransferEnd::WindowsError, error);
    }
    if (state.outcome.status == 0) {
        return state.Finish(NoAnswer(NowMs() - sentAt, state.timeoutMs), ERROR_HTTP_INVALID_SERVER_RESPONSE);
    }
    if (state.outcome.status != 200 && state.outcome.status != 206) {
        if (state.outcome.status == 429 || state.outcome.status == 503) {
            state.outcome.retryAfter = QueryHeader(state.Request(), HTTP_QUERY_RETRY_AFTER).value_or(L"");
        }
        return state.Finish(TransferEnd::HttpStatus);
    }
    DWORD bodyError = 0;
    const TransferEnd end = ReceiveBody(state, sink, bodyError);
    return state.Finish(end, bodyError);
}

// Sends the request under way; false when it failed or was given up.
bool Send(TransferState& state, const std::function<BOOL(HINTERNET)>& send, TransferOutcome& failed)
{
    const std::uint64_t started = NowMs();
    const BOOL sent = send(state.Request());
    const DWORD error = sent ? 0 : ::GetLastError();
    if (state.context.Abandoned()) {
        failed = state.Finish(GivenUp());
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
    state.session = OpenSession(state.limits);
    if (!state.session) {
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
        state.hops.push_back(OpenRequest(state.session.Get(), target, L"GET", flags));
        if (!state.hops.back().request) {
            return state.Finish(TransferEnd::WindowsError, ::GetLastError());
        }
        state.timeoutMs = state.guard.RemainingMs(NowMs(), state.limits.timeoutMs);
        SetTimeouts(state.Request(), state.timeoutMs, true);
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
        std::wstring next;
        const bool redirected = QueryStatus(state.Request(), status) && IsRedirectStatus(status);
        if (!redirected) {
            return FinishExchange(state, sink, sentAt);
        }
        state.outcome.status = status;
        if (!RedirectTarget(state.Request(), state.outcome.where, next)) {
            return state.Finish(TransferEnd::HttpStatus);  // no Location: just another answer
        }
        if (!IsAllowedRedirect(state.outcome.where, next)) {
            state.outcome.where = next;
            return state.Finish(TransferEnd::RedirectRefused);
        }
        if (redirects >= state.limits.maxRedirects) {
            return state.Finish(TransferEnd::TooManyRedirects);
        }
        state.HopAnswered();
        const TransferEnd end = state.Moved(0);
        if (end != TransferEnd::Complete) {
            return state.Finish(end);
        }
        state.LeaveBodyUnread();  // the redirect's own body; the next hop's is judged afresh
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
    state.session = OpenSession(state.limits);
    if (!state.session) {
        return state.Finish(TransferEnd::WindowsError, ::GetLastError());
    }
    state.hops.push_back(OpenRequest(state.session.Get(), target, L"POST", INTERNET_FLAG_NO_AUTO_REDIRECT));
    if (!state.hops.back().request) {
        return state.Finish(TransferEnd::WindowsError, ::GetLastError());
    }
    state.timeoutMs = state.limits.timeoutMs;
    ::HttpAddRequestHeadersW(state.Request(), post.contentTypeHeader.c_str(), static_cast<DWORD>(-1),
                             HTTP_ADDREQ_FLAG_ADD);
    SetTimeouts(state.Request(), state.timeoutMs, true);

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
        if (state.outcome.end == TransferEnd::Complete) {
            return state.Finish(TransferEnd::WindowsError, ERROR_READ_FAULT);  // a source that failed unsaid
        }
        return state.Finish(state.outcome.end, state.outcome.error);
    }
    state.AnswerBegins();
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

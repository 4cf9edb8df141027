// The two exchanges every transfer is made of: a GET that follows redirects by
// hand, and a POST of a streamed body. Each runs watched on a thread of its own
// (net/transfer_watch.h), so the sink and the body source are shared with it.
// Every transfer ends, and an early end leaves one line in the diagnostic log.
#pragma once

#include "net/request_body_writer.h"
#include "net/transfer_rules.h"

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

// What an answer's head says about its body.
struct ResponseHead {
    DWORD status = 0;                            // 200, or 206 to a request with a Range
    std::optional<std::uint64_t> contentLength;  // none announced
    std::wstring contentRange;                   // as sent; empty when none
    std::wstring etag;
    std::wstring lastModified;
};

// What a sink says to a step of an answer: go on (Complete), or end the
// transfer so; error: the Windows error of a local failure (LocalWriteFailed).
struct SinkStep {
    SinkStep(TransferEnd end = TransferEnd::Complete, DWORD error = ERROR_SUCCESS) : end(end), error(error) {}
    TransferEnd end;
    DWORD error;
};

// Receives the body of an answer, on the transfer's thread, outside any lock the
// caller waits on: a sink the caller reads while a given-up transfer may still
// write must guard itself.
class ResponseSink {
public:
    virtual ~ResponseSink() = default;
    // Called once the head of a 200 or 206 answer has arrived, before any body
    // byte. Anything but Complete ends the transfer that way. Only a sink that
    // asked for a range takes a 206.
    virtual SinkStep Begin(const ResponseHead& head)
    {
        return head.status == 200 ? TransferEnd::Complete : TransferEnd::HttpStatus;
    }
    // One piece of the body. Anything but Complete ends the transfer that way
    // (LocalWriteFailed, TooLarge...).
    virtual SinkStep Write(const char* data, DWORD size) = 0;
    // False once the sink has all it wants: the transfer ends as complete
    // without reading the rest.
    virtual bool WantsMore() const { return true; }
    // The body has ended, as long as announced (or with no length announced):
    // Complete, or ShortBody when the sink knows it should have been longer.
    virtual TransferEnd End() { return TransferEnd::Complete; }
};

// Keeps the body in memory (a reply, a signature): bound it with limits.maxBytes,
// or keep only its first `keep` bytes and read no further.
class StringSink : public ResponseSink {
public:
    explicit StringSink(std::size_t keep = static_cast<std::size_t>(-1)) : keep_(keep) {}
    SinkStep Write(const char* data, DWORD size) override
    {
        body.append(data, std::min<std::size_t>(size, keep_ - body.size()));
        return TransferEnd::Complete;
    }
    bool WantsMore() const override { return body.size() < keep_; }
    std::string body;

private:
    std::size_t keep_;
};

struct HttpPostRequest {
    std::wstring url;
    std::wstring contentTypeHeader;  // added as it is, without CR LF
    std::uint64_t bodyLength = 0;    // announced to the server; at most 4 GiB - 1
    // Sends exactly bodyLength bytes; false when the transfer must end. Runs on
    // the transfer's thread: whatever it reads must be owned by the function.
    std::function<bool(RequestBodyWriter&)> sendBody;
};

// GET with redirects followed by hand (at most limits.maxRedirects, only to
// http or https, never from https down to http). headers: extra request
// header lines, each ending in CR LF (a Range, say). Complete only when the
// sink took the answer and its whole body.
TransferOutcome HttpGet(const std::wstring& url, const TransferLimits& limits, std::shared_ptr<ResponseSink> sink,
                        const std::wstring& headers = std::wstring());

// POST of a streamed body. The URL's scheme must be exactly "http" or "https"
// and its path with query shorter than 256 characters. A redirect is not
// followed: it is an answer other than 200. The reply goes to the sink.
TransferOutcome HttpPost(const HttpPostRequest& post, const TransferLimits& limits,
                         std::shared_ptr<ResponseSink> sink);

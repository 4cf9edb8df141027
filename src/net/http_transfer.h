// The one WinINet transfer core: session and request, time-outs, status and
// length checks, redirects, and the read and write loops under the stall guard.
// Each transfer runs watched on a thread of its own (net/transfer_watch.h), so
// the sink and the body source are shared with it. Every transfer ends, and an
// early end leaves one line in the diagnostic log.
#pragma once

#include "net/transfer_rules.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// The agent string; WinINet sends it as the User-Agent of every request.
extern const wchar_t kUserAgent[];

// Receives the body of a 200 answer, on the transfer's thread.
class ResponseSink {
public:
    virtual ~ResponseSink() = default;
    // Called once the answer is known to be 200, before any body byte. False
    // stops the transfer (GetLastError() tells why).
    virtual bool Begin() { return true; }
    // One piece of the body. False stops the transfer.
    virtual bool Write(const char* data, DWORD size) = 0;
};

// Keeps the body in memory (a reply, a signature): bound it with limits.maxBytes.
class StringSink : public ResponseSink {
public:
    bool Write(const char* data, DWORD size) override
    {
        body.append(data, size);
        return true;
    }
    std::string body;
};

struct TransferState;

// Sends the pieces of a request body, keeping the stall guard while it does.
class RequestBodyWriter {
public:
    explicit RequestBodyWriter(TransferState& state) : state_(state) {}
    // False when the transfer must end; it has then recorded why.
    bool Write(const void* data, std::size_t size);
    // The body's source failed: records why the transfer ends.
    void Fail(TransferEnd end, DWORD error);

private:
    TransferState& state_;
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
// http or https, never from https down to http). Complete only for 200 with
// the whole body delivered to the sink.
TransferOutcome HttpGet(const std::wstring& url, const TransferLimits& limits, std::shared_ptr<ResponseSink> sink);

// POST of a streamed body. The URL's scheme must be exactly "http" or "https"
// and its path with query shorter than 256 characters. A redirect is not
// followed: it is an answer other than 200. The reply goes to the sink.
TransferOutcome HttpPost(const HttpPostRequest& post, const TransferLimits& limits,
                         std::shared_ptr<ResponseSink> sink);

#include "net/http_upload.h"

#include "base/utf8_text.h"
#include "net/http_exchange.h"
#include "net/upload_file.h"

#include <memory>

namespace {

constexpr std::size_t kReplyKeepBytes = 64 * 1024;

// The request body: the multipart head, the file's bytes, the tail.
struct UploadBody {
    HandleOwner file;
    std::uint64_t fileBytes = 0;
    FormFrame frame;

    bool Send(RequestBodyWriter& writer) const
    {
        if (!writer.Write(frame.head.data(), frame.head.size())) {
            return false;
        }
        TransferEnd why = TransferEnd::Complete;
        DWORD error = 0;
        const auto send = [&](const char* data, DWORD size) { return writer.Write(data, size); };
        if (!SendFileBytes(file.Get(), fileBytes, send, why, error)) {
            if (why != TransferEnd::Complete) {
                writer.Fail(why, error);
            }
            return false;
        }
        return writer.Write(frame.tail.data(), frame.tail.size());
    }
};

}  // namespace

bool PostMultipartForm(const std::wstring& url, const FormFields& fields, const std::wstring& filePath,
                       const std::wstring& filePartName, std::optional<DWORD> timeoutMs, std::wstring* responseBody,
                       int* status, std::wstring* retryAfter)
{
    if (status != nullptr) {
        *status = 0;
    }
    if (!ValidateFieldNames(fields)) {
        return false;
    }
    // Owned with the transfer: its thread may outlive this call when it is given up.
    const auto body = std::make_shared<UploadBody>();
    body->file = OpenUploadFile(filePath, body->fileBytes);
    if (!body->file.Valid()) {
        return false;  // missing, unreadable or empty: nothing to send
    }
    const std::wstring boundary = MakeBoundary();
    if (!BuildFormFrame(fields, filePath, filePartName, boundary, body->frame)) {
        return false;
    }
    const std::uint64_t bodyLength = body->frame.head.size() + body->fileBytes + body->frame.tail.size();
    if (!FitsOneRequest(bodyLength)) {
        return false;
    }

    HttpPostRequest post;
    post.url = url;
    post.contentTypeHeader = MakeContentTypeHeader(boundary);
    post.bodyLength = bodyLength;
    post.sendBody = [body](RequestBodyWriter& writer) { return body->Send(writer); };
    TransferLimits limits = ReportTransferLimits();
    limits.timeoutMs = timeoutMs.value_or(0);

    // Only the first 64 KiB of the answer are kept and read: whatever a server
    // sends after its 200, memory stays flat.
    const auto sink = std::make_shared<StringSink>(kReplyKeepBytes);
    const TransferOutcome outcome = HttpPost(post, limits, sink);
    if (status != nullptr) {
        *status = static_cast<int>(outcome.status);
    }
    if (retryAfter != nullptr) {
        *retryAfter = outcome.retryAfter;
    }
    if (!outcome.Complete()) {
        return false;
    }
    if (responseBody != nullptr) {
        *responseBody = WideFromUtf8(sink->body);
    }
    return true;
}

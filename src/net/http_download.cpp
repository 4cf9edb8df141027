#include "net/http_download.h"

#include "net/http_exchange.h"
#include "net/retrying_transfer.h"

#include <memory>

bool DownloadUrlToString(const wchar_t* url, const TransferLimits& limits, std::uint64_t deadlineTick,
                         std::string& body)
{
    return DownloadToString(url, limits, deadlineTick, body).Complete();
}

TransferOutcome DownloadToString(const wchar_t* url, const TransferLimits& limits, std::uint64_t deadlineTick,
                                 std::string& body)
{
    std::shared_ptr<StringSink> sink;
    const TransferOutcome outcome = RunWithRetries(limits, deadlineTick, [&](const TransferLimits& bounded) {
        sink = std::make_shared<StringSink>();  // each try starts from nothing
        return HttpGet(url, bounded, sink);
    });
    if (outcome.Complete()) {
        body.swap(sink->body);
    }
    return outcome;
}

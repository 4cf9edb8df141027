#include "net/http_download.h"

#include "base/file_io.h"
#include "base/handle_owner.h"
#include "net/http_exchange.h"

namespace {

class FileSink : public ResponseSink {
public:
    FileSink(const wchar_t* path, const PieceObserver& observer) : path_(path), observer_(observer) {}

    TransferEnd Begin(const ResponseHead&) override
    {
        // Shared for deletion: whoever refuses the file may remove it while it is open.
        file_.Reset(::CreateFileW(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        return file_.Valid() ? TransferEnd::Complete : TransferEnd::LocalWriteFailed;
    }

    bool Write(const char* data, DWORD size) override
    {
        if (!WriteAllBytes(file_.Get(), data, size)) {
            return false;
        }
        if (observer_) {
            observer_(data, size);
        }
        return true;
    }

private:
    std::wstring path_;
    PieceObserver observer_;
    HandleOwner file_;
};

}  // namespace

bool DownloadUrlToFile(const wchar_t* url, const wchar_t* path, const TransferLimits& limits,
                       const PieceObserver& observer)
{
    return HttpGet(url, limits, std::make_shared<FileSink>(path, observer)).Complete();
}

bool DownloadUrlToString(const wchar_t* url, const TransferLimits& limits, std::string& body)
{
    const auto sink = std::make_shared<StringSink>();
    if (!HttpGet(url, limits, sink).Complete()) {
        return false;
    }
    body.swap(sink->body);
    return true;
}

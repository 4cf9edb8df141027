#include "net/http_download.h"

#include "base/file_io.h"
#include "base/handle_owner.h"
#include "net/http_transfer.h"

namespace {

class FileSink : public ResponseSink {
public:
    FileSink(const wchar_t* path, const PieceObserver& observer) : path_(path), observer_(observer) {}

    bool Begin() override
    {
        file_.Reset(::CreateFileW(path_, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
        return file_.Valid();
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
    const wchar_t* path_;
    const PieceObserver& observer_;
    HandleOwner file_;
};

class StringSink : public ResponseSink {
public:
    explicit StringSink(std::string& body) : body_(body) {}
    bool Write(const char* data, DWORD size) override
    {
        body_.append(data, size);
        return true;
    }

private:
    std::string& body_;
};

}  // namespace

bool DownloadUrlToFile(const wchar_t* url, const wchar_t* path, const TransferLimits& limits,
                       const PieceObserver& observer)
{
    FileSink sink(path, observer);
    return HttpGet(url, limits, sink).Complete();
}

bool DownloadUrlToString(const wchar_t* url, const TransferLimits& limits, std::string& body)
{
    std::string received;
    StringSink sink(received);
    if (!HttpGet(url, limits, sink).Complete()) {
        return false;
    }
    body.swap(received);
    return true;
}

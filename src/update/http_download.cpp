#include "update/http_download.h"

#include "base/handle_owner.h"
#include "update/package_location.h"

#include <windows.h>
#include <wininet.h>

#include <cwchar>
#include <vector>

namespace {

constexpr wchar_t kUserAgent[] = L"VelmarUpdate/1.0 (Windows)";
constexpr DWORD kReadChunk = 1024 * 1024;

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

bool WriteAll(HANDLE file, const unsigned char* data, DWORD size)
{
    while (size > 0) {
        DWORD written = 0;
        if (!::WriteFile(file, data, size, &written, nullptr) || written == 0) {
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

}  // namespace

bool IsCompleteDownload(unsigned long status, bool lengthAnnounced, std::uint64_t announcedLength,
                        std::uint64_t receivedLength)
{
    return status == 200 && (!lengthAnnounced || announcedLength == receivedLength);
}

bool DownloadUrlToFile(const wchar_t* url, const wchar_t* path)
{
    if (!HasHttpScheme(url)) {
        return false;
    }
    InternetHandleOwner session(::InternetOpenW(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (session.Get() == nullptr) {
        return false;
    }
    // Always ask the server, and keep the package out of the cache: an old
    // manifest would hide an update, and a cached package doubles the disk use.
    const DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_UI |
                        INTERNET_FLAG_NO_COOKIES;
    InternetHandleOwner request(::InternetOpenUrlW(session.Get(), url, nullptr, 0, flags, 0));
    if (request.Get() == nullptr) {
        return false;
    }
    DWORD status = 0;
    DWORD statusSize = sizeof status;
    if (!::HttpQueryInfoW(request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &statusSize,
                          nullptr) ||
        status != 200) {
        return false;
    }
    std::uint64_t announced = 0;
    const bool lengthAnnounced = QueryContentLength(request.Get(), announced);

    HandleOwner file(::CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        return false;
    }
    std::vector<unsigned char> chunk(kReadChunk);
    std::uint64_t received = 0;
    for (;;) {
        DWORD read = 0;
        if (!::InternetReadFile(request.Get(), chunk.data(), kReadChunk, &read)) {
            return false;
        }
        if (read == 0) {
            break;
        }
        if (!WriteAll(file.Get(), chunk.data(), read)) {
            return false;
        }
        received += read;
    }
    return IsCompleteDownload(status, lengthAnnounced, announced, received);
}

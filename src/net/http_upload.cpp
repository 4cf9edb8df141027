#include "net/http_upload.h"

#include "net/utf8_text.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <vector>

const wchar_t kCrashReportAgent[] = L"VelmarCrashReport/1.0 (Windows)";

namespace {

// Buffer sizes in characters, terminator included.
constexpr DWORD kSchemeChars = 16;
constexpr DWORD kHostChars = 256;
constexpr DWORD kPathChars = 256;
constexpr DWORD kStatusChars = 4;
constexpr DWORD kLengthChars = 32;

// The announced length only sizes a first allocation; a server claiming an
// absurd length must not make us allocate it.
constexpr long long kMaxReplyReserve = 1 << 20;

void SetTimeout(HINTERNET request, DWORD option, DWORD timeoutMs, const char* warning)
{
    if (!::InternetSetOptionW(request, option, &timeoutMs, sizeof timeoutMs)) {
        std::fputs(warning, stderr);
    }
}

}  // namespace

bool ReplyLengthMatches(bool lengthAnnounced, long long announcedLength, std::uint64_t bytesRead)
{
    if (!lengthAnnounced) {
        return true;
    }
    return announcedLength >= 0 && static_cast<std::uint64_t>(announcedLength) == bytesRead;
}

bool ReadReplyBody(HINTERNET request, std::wstring* responseBody)
{
    std::string reply;
    bool lengthAnnounced = false;
    long long announcedLength = 0;
    wchar_t lengthText[kLengthChars] = {};
    DWORD lengthSize = sizeof lengthText;
    if (::HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH, lengthText, &lengthSize, nullptr)) {
        lengthAnnounced = true;
        announcedLength = std::wcstoll(lengthText, nullptr, 10);
        reply.reserve(static_cast<std::size_t>(std::clamp(announcedLength, 0LL, kMaxReplyReserve)));
    }

    std::uint64_t total = 0;
    for (;;) {
        DWORD available = 0;
        if (!::InternetQueryDataAvailable(request, &available, 0, 0)) {
            return false;
        }
        if (available == 0) {
            break;
        }
        std::vector<char> piece(available, '\0');
        DWORD read = 0;
        if (!::InternetReadFile(request, piece.data(), available, &read)) {
            return false;
        }
        if (read == 0) {
            break;
        }
        total += read;
        reply.append(piece.data(), read);
    }

    if (!ReplyLengthMatches(lengthAnnounced, announcedLength, total)) {
        return false;
    }
    if (responseBody != nullptr) {
        *responseBody = WideFromUtf8(reply);
    }
    return true;
}

bool PostMultipartForm(const std::wstring& url, const FormFields& fields, const std::wstring& filePath,
                       const std::wstring& filePartName, std::optional<DWORD> timeoutMs, std::wstring* responseBody,
                       int* status)
{
    if (status != nullptr) {
        *status = 0;
    }
    if (!ValidateFieldNames(fields)) {
        return false;
    }

    // No buffer for the extra information: the query stays part of the path.
    wchar_t scheme[kSchemeChars] = {};
    wchar_t host[kHostChars] = {};
    wchar_t path[kPathChars] = {};
    URL_COMPONENTSW parts = {};
    parts.dwStructSize = sizeof parts;
    parts.lpszScheme = scheme;
    parts.dwSchemeLength = kSchemeChars;
    parts.lpszHostName = host;
    parts.dwHostNameLength = kHostChars;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = kPathChars;
    if (!::InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) {
        return false;
    }
    bool secure = false;
    if (std::wcscmp(scheme, L"https") == 0) {
        secure = true;
    } else if (std::wcscmp(scheme, L"http") != 0) {
        return false;
    }

    InternetHandleOwner client(::InternetOpenW(kCrashReportAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!client) {
        return false;
    }
    InternetHandleOwner connection(
        ::InternetConnectW(client.Get(), host, parts.nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection) {
        return false;
    }
    // Certificate errors are never ignored: INTERNET_FLAG_SECURE is the only flag.
    InternetHandleOwner request(::HttpOpenRequestW(connection.Get(), L"POST", path, nullptr, nullptr, nullptr,
                                                   secure ? INTERNET_FLAG_SECURE : 0, 0));
    if (!request) {
        return false;
    }

    const std::wstring boundary = MakeBoundary();
    const std::wstring contentType = MakeContentTypeHeader(boundary);
    ::HttpAddRequestHeadersW(request.Get(), contentType.c_str(), static_cast<DWORD>(-1), HTTP_ADDREQ_FLAG_ADD);

    std::string body;
    if (!BuildFormBody(fields, filePath, filePartName, boundary, body) || !FitsOneRequest(body.size())) {
        return false;  // nothing has gone out; the owners close the three handles
    }

    if (timeoutMs) {
        SetTimeout(request.Get(), INTERNET_OPTION_SEND_TIMEOUT, *timeoutMs,
                   "Could not set send timeout, continuing...\n");
        SetTimeout(request.Get(), INTERNET_OPTION_RECEIVE_TIMEOUT, *timeoutMs,
                   "Could not set receive timeout, continuing...\n");
    }

    if (!::HttpSendRequestW(request.Get(), nullptr, 0, &body[0], static_cast<DWORD>(body.size()))) {
        return false;
    }

    wchar_t statusText[kStatusChars] = {};
    DWORD statusSize = sizeof statusText;
    if (!::HttpQueryInfoW(request.Get(), HTTP_QUERY_STATUS_CODE, statusText, &statusSize, nullptr)) {
        return false;
    }
    const int code = static_cast<int>(std::wcstol(statusText, nullptr, 10));
    if (status != nullptr) {
        *status = code;
    }

    const bool result = code == 200 && ReadReplyBody(request.Get(), responseBody);
    request.Reset();
    connection.Reset();
    client.Reset();
    return result;
}

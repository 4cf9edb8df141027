#include "net/wininet_calls.h"

#include "base/decimal_text.h"
#include "log/update_log.h"
#include "net/retrying_transfer.h"

#include <algorithm>
#include <cstdio>
#include <cwctype>
#include <vector>

const wchar_t kUserAgent[] = L"VelmarCrashReport/1.0 (Windows)";

bool SplitUrl(const std::wstring& url, DWORD pathChars, bool exactScheme, HttpTarget& target)
{
    wchar_t scheme[16] = {};
    wchar_t host[256] = {};
    std::vector<wchar_t> path(pathChars, L'\0');
    URL_COMPONENTSW parts = {};
    parts.dwStructSize = sizeof parts;
    parts.lpszScheme = scheme;
    parts.dwSchemeLength = 16;
    parts.lpszHostName = host;
    parts.dwHostNameLength = 256;
    parts.lpszUrlPath = path.data();
    parts.dwUrlPathLength = pathChars;
    if (!::InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) {
        return false;
    }
    std::wstring name(scheme);
    if (!exactScheme) {
        std::transform(name.begin(), name.end(), name.begin(), [](wchar_t c) { return std::towlower(c); });
    }
    if (name == L"https") {
        target.secure = true;
    } else if (name == L"http") {
        target.secure = false;
    } else {
        return false;
    }
    target.port = parts.nPort;
    target.host = host;
    target.path = path.data();
    return !target.host.empty();
}

std::optional<std::wstring> BaseUrlProblem(const std::wstring& url)
{
    if (url.size() >= kUrlChars) {
        return L"over " + std::to_wstring(kUrlChars - 1) + L" characters";
    }
    for (const wchar_t c : url) {
        if (c < 0x21 || c > 0x7E || c == L'\\') {
            return L"holds a blank, a control character, a backslash or a character beyond ASCII";
        }
    }
    if (url.empty() || url.back() != L'/') {
        return L"does not end in /";
    }
    const std::size_t scheme = url.find(L"://");
    if (scheme != std::wstring::npos && url.compare(scheme + 3, 1, L"[") == 0) {
        return L"has an IPv6 address for its host: give a DNS name or an IPv4 address";
    }
    URL_COMPONENTSW parts = {};
    parts.dwStructSize = sizeof parts;
    // Non-zero lengths with no buffers: each part comes back as a place in url.
    parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUserNameLength = parts.dwPasswordLength = 1;
    parts.dwUrlPathLength = parts.dwExtraInfoLength = 1;
    if (!::InternetCrackUrlW(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) {
        return L"is no URL Windows can read (Windows error " + std::to_wstring(::GetLastError()) + L")";
    }
    if (!HasHttpScheme(url) || (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)) {
        return L"is not an http or https URL";
    }
    if (parts.dwHostNameLength == 0) {
        return L"has no host";
    }
    // Letters, digits, dots and hyphens: what else Windows takes for a host, no request can reach.
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    static const wchar_t kHostChars[] = L"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-";
    if (host.find_first_not_of(kHostChars) != std::wstring::npos) {
        return L"has a host that is not a DNS name or an IPv4 address";
    }
    if (parts.dwUserNameLength != 0 || parts.dwPasswordLength != 0) {
        return L"has a user name or password";
    }
    if (parts.dwExtraInfoLength != 0) {
        return L"has a query or fragment";
    }
    // A port written after the host must be the one connected to: Wine's parser
    // takes 99999 as 34463.
    const wchar_t* const hostEnd = parts.lpszHostName + parts.dwHostNameLength;
    if (*hostEnd == L':' && parts.lpszUrlPath != nullptr && parts.lpszUrlPath > hostEnd) {
        const std::wstring written(hostEnd + 1, static_cast<std::size_t>(parts.lpszUrlPath - hostEnd - 1));
        const std::optional<std::uint64_t> port = ParsePlainDecimal(written, 65535);
        if (!port || *port == 0 || *port != parts.nPort) {
            return L"has a port out of range";
        }
    }
    return std::nullopt;
}

namespace {

// Connections one run may leave open to one server, each held by a request
// whose body stays unread (see LeaveOpen), so that none of them makes a later
// request wait for a free connection until its stall guard gives up (Windows'
// WinINet keeps a few per server and process; Wine has no limit):
// - every request of a try may be one, its redirects' included: kMaxRedirects + 1;
// - a transfer makes 1 + the build's retry waits tries, and a package try may
//   start again from zero once when its resume is refused: 2 gets per try;
// - a run fetches the manifest and its signature, with room for four more small
//   fetches under the manifest's budget (a log proof and three tiles), and at
//   most a patch and the full package. A crash report is one POST in a process of its own.
// Production build (waits 10 s and 30 s): (6 + 2 x 2) x 3 tries x 11 requests = 330.
DWORD ConnectionsOneRunMayLeave()
{
    const DWORD tries = 1 + static_cast<DWORD>(BuildRetryWaits().size());
    const DWORD smallFetches = 6;
    const DWORD packageGets = 2 * 2;
    return (smallFetches + packageGets) * tries * (kMaxRedirects + 1);
}

// Once per process, before its first connection: the limits are the process's.
void RaiseConnectionLimits()
{
    static const bool raised = [] {
        DWORD most = ConnectionsOneRunMayLeave();
        for (const DWORD option : {INTERNET_OPTION_MAX_CONNS_PER_SERVER, INTERNET_OPTION_MAX_CONNS_PER_1_0_SERVER}) {
            if (!::InternetSetOptionW(nullptr, option, &most, sizeof most)) {
                g_updateLog.Stream() << L" ConnectionLimit:not raised to " << most << L" (Windows error "
                                     << static_cast<unsigned long>(::GetLastError()) << L")";
            }
        }
        return true;
    }();
    static_cast<void>(raised);
}

}  // namespace

InternetHandleOwner OpenSession(const TransferLimits& limits)
{
    RaiseConnectionLimits();
    InternetHandleOwner session(::InternetOpenW(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (session) {
        // Windows honours time-outs here; Wine only on the request handle, set there too.
        SetTimeouts(session.Get(), limits.timeoutMs, false);
    }
    return session;
}

OpenedRequest OpenRequest(HINTERNET session, const HttpTarget& target, const wchar_t* verb, DWORD flags)
{
    OpenedRequest opened;
    opened.connection.Reset(
        ::InternetConnectW(session, target.host.c_str(), target.port, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    if (opened.connection) {
        // No INTERNET_FLAG_IGNORE_CERT_* flag, ever.
        opened.request.Reset(::HttpOpenRequestW(opened.connection.Get(), verb, target.path.c_str(), nullptr, nullptr,
                                                nullptr, flags | (target.secure ? INTERNET_FLAG_SECURE : 0), 0));
    }
    return opened;
}

void LeaveOpen(InternetHandleOwner& handle)
{
    static_cast<void>(handle.Release());
}

void SetTimeouts(HINTERNET handle, DWORD timeoutMs, bool warn)
{
    if (timeoutMs == 0) {
        return;
    }
    const struct {
        DWORD option;
        const char* warning;
    } options[] = {
        {INTERNET_OPTION_CONNECT_TIMEOUT, "Could not set connect timeout, continuing...\n"},
        {INTERNET_OPTION_SEND_TIMEOUT, "Could not set send timeout, continuing...\n"},
        {INTERNET_OPTION_RECEIVE_TIMEOUT, "Could not set receive timeout, continuing...\n"},
    };
    for (const auto& o : options) {
        DWORD value = timeoutMs;
        if (!::InternetSetOptionW(handle, o.option, &value, sizeof value) && warn) {
            std::fputs(o.warning, stderr);
        }
    }
}

// Wine reports a time-out on a request handle as 12030 or 10060, Windows as 12002;
// a failure that took the whole time-out is one too.
TransferEnd ClassifyError(DWORD error, std::uint64_t elapsedMs, DWORD timeoutMs)
{
    if (error == ERROR_INTERNET_TIMEOUT || error == kWsaTimedOut) {
        return TransferEnd::TimedOut;
    }
    if (timeoutMs != 0 && elapsedMs + 250 >= timeoutMs &&
        (error == ERROR_INTERNET_CONNECTION_ABORTED || error == ERROR_INTERNET_CONNECTION_RESET)) {
        return TransferEnd::TimedOut;
    }
    return TransferEnd::WindowsError;
}

// Wine "succeeds" when the wait for an answer ends without one, and reports
// status 0; it was a time-out when it took the whole time-out.
TransferEnd NoAnswer(std::uint64_t elapsedMs, DWORD timeoutMs)
{
    return timeoutMs != 0 && elapsedMs + 250 >= timeoutMs ? TransferEnd::TimedOut : TransferEnd::WindowsError;
}

bool QueryStatus(HINTERNET request, DWORD& status)
{
    DWORD size = sizeof status;
    return ::HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr) != 0;
}

std::optional<std::wstring> QueryHeader(HINTERNET request, DWORD infoLevel)
{
    std::vector<wchar_t> text(64, L'\0');
    for (;;) {
        DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        if (::HttpQueryInfoW(request, infoLevel, text.data(), &size, nullptr)) {
            return std::wstring(text.data(), size / sizeof(wchar_t));
        }
        // size now holds the bytes needed, terminator included.
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || size <= text.size() * sizeof(wchar_t)) {
            return std::nullopt;
        }
        text.assign(size / sizeof(wchar_t) + 1, L'\0');
    }
}

bool RedirectTarget(HINTERNET request, const std::wstring& from, std::wstring& to)
{
    const std::optional<std::wstring> location = QueryHeader(request, HTTP_QUERY_LOCATION);
    if (!location) {
        return false;
    }
    std::vector<wchar_t> combined(kUrlChars, L'\0');
    DWORD chars = kUrlChars;
    if (!::InternetCombineUrlW(from.c_str(), location->c_str(), combined.data(), &chars, ICU_NO_ENCODE)) {
        to = *location;
        return true;  // not resolvable: the redirect rule refuses it
    }
    to = combined.data();
    return true;
}

#include "update/host_messages.h"

#include <shlwapi.h>

#include <cstdarg>

HWND g_hHostWnd = nullptr;
std::int32_t g_nHostParam = 0;

namespace {

constexpr ULONG_PTR kHostMessageId = 12;

// wnsprintfW is wsprintfW with a bound: a long version text is cut, never
// written past the buffer (wsprintfW itself may write up to 1024 characters).
void FormatHostText(wchar_t (&text)[kHostTextChars], const wchar_t* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    ::wvnsprintfW(text, kHostTextChars, format, arguments);
    va_end(arguments);
    text[kHostTextChars - 1] = L'\0';  // whatever the runtime did at the cut
}

}  // namespace

LRESULT SendHostMessage(const wchar_t* text)
{
    COPYDATASTRUCT data = {};
    data.dwData = kHostMessageId;
    data.cbData = kHostTextChars * sizeof(wchar_t);
    data.lpData = const_cast<wchar_t*>(text);
    // Sign-extended, so a "/j:" of -1 arrives with every bit set.
    const WPARAM param = static_cast<WPARAM>(static_cast<INT_PTR>(g_nHostParam));
    return ::SendMessageW(g_hHostWnd, WM_COPYDATA, param, reinterpret_cast<LPARAM>(&data));
}

void NotifyCheckingForUpdate()
{
    wchar_t text[kHostTextChars] = {};
    FormatHostText(text, L"OnCheckingForUpdate");
    SendHostMessage(text);
}

void NotifyUpdateAvailable(const wchar_t* version)
{
    wchar_t text[kHostTextChars] = {};
    FormatHostText(text, L"OnUpdateAvailable;%s", version);
    SendHostMessage(text);
}

void NotifyInstalling()
{
    wchar_t text[kHostTextChars] = {};
    FormatHostText(text, L"OnInstalling");
    SendHostMessage(text);
}

void NotifyComplete(std::int32_t resultCode)
{
    wchar_t text[kHostTextChars] = {};
    FormatHostText(text, L"OnComplete;%d;", static_cast<int>(resultCode));
    SendHostMessage(text);
}

#include "update/host_messages.h"

#include "build_settings.h"
#include "log/update_log.h"

#include <shlwapi.h>

#include <cstdarg>

HWND g_hHostWnd = nullptr;
std::int32_t g_nHostParam = 0;
HWND g_hSilentHost = nullptr;

namespace {

constexpr ULONG_PTR kHostMessageId = 12;

// Formats into a zero-filled 260-character buffer and sends it. wnsprintfW is
// wsprintfW with a bound: a long version text is cut, never written past the
// buffer (wsprintfW itself may write up to 1024 characters).
void SendFormattedHostMessage(const wchar_t* format, ...)
{
    wchar_t text[kHostTextChars] = {};
    va_list arguments;
    va_start(arguments, format);
    ::wvnsprintfW(text, kHostTextChars, format, arguments);
    va_end(arguments);
    text[kHostTextChars - 1] = L'\0';  // whatever the runtime did at the cut
    SendHostMessage(text);
}

}  // namespace

LRESULT SendHostMessage(const wchar_t* text)
{
    // No window, or one that did not answer before: it hears nothing more.
    if (g_hHostWnd == nullptr || g_hHostWnd == g_hSilentHost) {
        return 0;
    }
    COPYDATASTRUCT data = {};
    data.dwData = kHostMessageId;
    data.cbData = kHostTextChars * sizeof(wchar_t);
    data.lpData = const_cast<wchar_t*>(text);
    // Sign-extended, so a "/j:" of -1 arrives with every bit set.
    const WPARAM param = static_cast<WPARAM>(static_cast<INT_PTR>(g_nHostParam));
    // Still synchronous, so the text stays the host's until it returns, but
    // bounded: a hung browser must not hold the updater and its mutex for ever.
    DWORD_PTR reply = 0;
    if (!::SendMessageTimeoutW(g_hHostWnd, WM_COPYDATA, param, reinterpret_cast<LPARAM>(&data),
                               SMTO_BLOCK | SMTO_ABORTIFHUNG, VELMAR_HOST_MESSAGE_TIMEOUT_MS, &reply)) {
        g_updateLog.Stream() << L" HostNotResponding:" << text;
        g_hSilentHost = g_hHostWnd;
        return 0;
    }
    return static_cast<LRESULT>(reply);
}

void NotifyCheckingForUpdate() { SendFormattedHostMessage(L"OnCheckingForUpdate"); }

void NotifyUpdateAvailable(const wchar_t* version) { SendFormattedHostMessage(L"OnUpdateAvailable;%s", version); }

void NotifyInstalling() { SendFormattedHostMessage(L"OnInstalling"); }

void NotifyComplete(std::int32_t resultCode) { SendFormattedHostMessage(L"OnComplete;%d;", static_cast<int>(resultCode)); }

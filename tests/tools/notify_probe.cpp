// Test tool: sends the host messages of an update run the way the updater does,
// to the window "/w:" with the number "/j:" from its own command line:
// OnCheckingForUpdate, OnUpdateAvailable;2.0.0.7, OnInstalling, OnComplete;1;,
// OnComplete;3; and last OnUpdateAvailable with a 300-character version.
// Exits 0 once all are sent.
#include "app/switches.h"
#include "update/host_messages.h"

#include <windows.h>

#include <string>

int wmain()
{
    const wchar_t* commandLine = ::GetCommandLineW();
    g_hHostWnd = reinterpret_cast<HWND>(static_cast<INT_PTR>(GetSwitchNumber(commandLine, L"/w:")));
    g_nHostParam = GetSwitchNumber(commandLine, L"/j:");

    NotifyCheckingForUpdate();
    NotifyUpdateAvailable(L"2.0.0.7");
    NotifyInstalling();
    NotifyComplete(1);
    NotifyComplete(3);
    std::wstring longVersion;
    for (int i = 0; i < 30; ++i) {
        longVersion += L"0123456789";
    }
    NotifyUpdateAvailable(longVersion.c_str());
    return 0;
}

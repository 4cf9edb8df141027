#include "update/update_driver.h"

#include "app/switches.h"
#include "update/check_schedule.h"
#include "update/host_messages.h"
#include "update/package_download.h"

#include <windows.h>

std::int32_t g_nUpdateResult = 1;

int RunUpdateCycle(const wchar_t* commandLine)
{
    // The handle is not validated: a wrong one only means the host hears nothing.
    g_hHostWnd = reinterpret_cast<HWND>(static_cast<INT_PTR>(GetSwitchNumber(commandLine, L"/w:")));
    g_nHostParam = GetSwitchNumber(commandLine, L"/j:");
    NotifyCheckingForUpdate();
    if (IsUpdateCheckDue() != 0) {
        DownloadAndInstallUpdate();
        SaveLastCheckTime();
    }
    NotifyComplete(g_nUpdateResult);
    return 0;
}

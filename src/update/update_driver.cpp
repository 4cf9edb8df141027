#include "update/update_driver.h"

#include "base/switches.h"
#include "update/check_schedule.h"
#include "update/host_messages.h"
#include "update/package_download.h"
#include "update/update_result.h"

#include <windows.h>

std::int32_t g_nUpdateResult = kUpdateSucceeded;

int RunUpdateCycle(const wchar_t* commandLine, const unsigned char* updatePublicKey)
{
    bool completeSent = false;
    try {
        // The handle is not validated: a wrong one only means the host hears nothing.
        g_hHostWnd = reinterpret_cast<HWND>(static_cast<INT_PTR>(GetSwitchNumber(commandLine, L"/w:")));
        g_nHostParam = GetSwitchNumber(commandLine, L"/j:");
        NotifyCheckingForUpdate();
        if (IsUpdateCheckDue() != 0) {
            DownloadAndInstallUpdate(commandLine, updatePublicKey);
            SaveLastCheckTime();
        }
        completeSent = true;
        NotifyComplete(g_nUpdateResult);
    } catch (...) {
        // Whatever went wrong, the host still learns that the cycle has ended.
        if (!completeSent) {
            g_nUpdateResult = kUpdateFailed;
            try {
                NotifyComplete(g_nUpdateResult);
            } catch (...) {
            }
        }
    }
    return 0;
}

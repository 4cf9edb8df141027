// Entry point: reads the command line once, sets up the log, picks the mode and
// hands each mode its options.
#include "app/command_line_options.h"
#include "base/handle_owner.h"
#include "crashreport/crash_report.h"
#include "log/update_log.h"
#include "update/install/installer_publisher.h"
#include "update/manifest/update_keys.h"
#include "update/policy/policy_registry.h"
#include "update/update_driver.h"

#include <windows.h>

namespace {

constexpr wchar_t kMutexName[] = L"Orvanta_VelmarUpdate";

int RunUpdateMode(const wchar_t* commandLine)
{
    HandleOwner mutex(::CreateMutexW(nullptr, TRUE, kMutexName));
    const DWORD error = ::GetLastError();
    if (!mutex.Valid() || error == ERROR_ALREADY_EXISTS) {
        return 0;  // no mutex, or another instance runs the cycle
    }
    g_updateLog.Stream() << L"AutoUpdateVelmar";
    // The machine's policies only: the user's own policy key could be written by any of the user's programs.
    return RunUpdateCycle(ReadUpdateOptions(commandLine), BuiltInUpdateKeys(), BuiltInPublisherPins(),
                          ReadMachinePolicies());
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    const wchar_t* commandLine = ::GetCommandLineW();
    ::OutputDebugStringW(commandLine);

    if (HasSwitch(commandLine, L"--velmarupdate-log")) {
        g_updateLog.Enable();
    }
    g_updateLog.Stream() << L"Velmar update is running. PID:" << static_cast<int>(::GetCurrentProcessId()) << L"CmdLine is"
                         << commandLine;

    if (HasSwitch(commandLine, L"--wait-for-debug")) {
        g_updateLog.Stream() << L"Wait for debugger\n";
        ::MessageBoxW(nullptr, commandLine, L"VelmarUpdateWaitForDebug", MB_OK);
    }

    if (HasSwitch(commandLine, L"/u:")) {
        g_updateLog.Stream() << L"Upload dump file";
        // As in update mode, the machine's policy only.
        return UploadCrashDump(ReadCrashReportOptions(commandLine), ReadCrashReportPolicy());
    }
    return RunUpdateMode(commandLine);
}

// Entry point: reads the command line once, sets up the log, picks the mode and
// hands the same command line to it.
#include "base/handle_owner.h"
#include "base/switches.h"
#include "crashreport/crash_report.h"
#include "log/update_log.h"
#include "update/update_driver.h"
#include "update/update_public_key.h"

#include <windows.h>

namespace {

constexpr wchar_t kMutexName[] = L"Orvanta_VelmarUpdate";

bool HasSwitch(const wchar_t* commandLine, const wchar_t* switchText)
{
    wchar_t ignored[kSwitchBufferChars] = {};
    return GetSwitchValue(commandLine, switchText, ignored, kSwitchDeclaredSize) != 0;
}

int RunUpdateMode(const wchar_t* commandLine)
{
    HandleOwner mutex(::CreateMutexW(nullptr, TRUE, kMutexName));
    const DWORD error = ::GetLastError();
    if (!mutex.Valid() || error == ERROR_ALREADY_EXISTS) {
        return 0;  // no mutex, or another instance runs the cycle
    }
    g_updateLog.Stream() << L"AutoUpdateVelmar";
    return RunUpdateCycle(commandLine, UpdatePublicKey());
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

    wchar_t dumpPath[kSwitchBufferChars] = {};
    if (GetSwitchValue(commandLine, L"/u:", dumpPath, kSwitchDeclaredSize) != 0) {
        g_updateLog.Stream() << L"Upload dump file";
        return UploadCrashDump(commandLine, dumpPath);
    }
    return RunUpdateMode(commandLine);
}

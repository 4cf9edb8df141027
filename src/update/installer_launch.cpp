#include "update/installer_launch.h"

#include "base/handle_owner.h"
#include "app/switches.h"
#include "log/update_log.h"
#include "update/installer_command_line.h"

#include <windows.h>
#include <shlwapi.h>

#include <string>
#include <vector>

namespace {

// Starts the program with no window and no inherited handles, waits for it
// without a time-out and returns 1 only for exit code 0.
int RunAndWait(const wchar_t* program, const std::wstring& commandLine)
{
    std::vector<wchar_t> writable(commandLine.begin(), commandLine.end());
    writable.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessW(program, writable.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                          &startup, &info)) {
        return 0;
    }
    HandleOwner process(info.hProcess);
    HandleOwner thread(info.hThread);
    if (::WaitForSingleObject(process.Get(), INFINITE) != WAIT_OBJECT_0) {
        return 0;
    }
    DWORD exitCode = 0;
    if (!::GetExitCodeProcess(process.Get(), &exitCode)) {
        exitCode = 0;
    }
    return exitCode == 0 ? 1 : 0;
}

}  // namespace

int RunPatchArchiveFile(const wchar_t* packagePath)
{
    const std::wstring installer = g_updateLog.ModuleDirectory() + L"\\setup.exe";
    const std::wstring commandLine = BuildPatchCommandLine(installer, packagePath, g_updateLog.SetupLogPath());
    g_updateLog.Stream() << L"RunPatchArchiveFile:" << commandLine;
    return RunAndWait(installer.c_str(), commandLine);
}

int RunFullInstaller(const wchar_t* packagePath)
{
    wchar_t installPath[kSwitchBufferChars] = {};
    if (GetSwitchValue(::GetCommandLineW(), L"/installpath:", installPath, kSwitchDeclaredSize) == 0) {
        return 0;
    }
    if (!::PathFileExistsW(installPath)) {
        return 0;
    }
    return RunAndWait(packagePath, BuildFullInstallerCommandLine(g_updateLog.InstallLogPath(), installPath));
}

#include "update/installer_launch.h"

#include "base/switches.h"
#include "base/process_launch.h"
#include "log/update_log.h"
#include "update/installer_command_line.h"

#include <windows.h>
#include <shlwapi.h>

#include <string>

namespace {

// No window, no inherited handles, waited for without a time-out; 1 only for exit code 0.
int RunInstaller(const wchar_t* program, const std::wstring& commandLine)
{
    const ProcessRun run = RunProcessAndWait(program, commandLine, CREATE_NO_WINDOW, INFINITE);
    return run.ended && run.exitCode == 0 ? 1 : 0;
}

}  // namespace

int RunPatchArchiveFile(const wchar_t* packagePath)
{
    const std::wstring installer = g_updateLog.ModuleDirectory() + L"\\setup.exe";
    const std::wstring commandLine = BuildPatchCommandLine(installer, packagePath, g_updateLog.SetupLogPath());
    g_updateLog.Stream() << L"RunPatchArchiveFile:" << commandLine;
    return RunInstaller(installer.c_str(), commandLine);
}

int RunFullInstaller(const wchar_t* commandLine, const wchar_t* packagePath)
{
    wchar_t installPath[kSwitchBufferChars] = {};
    if (GetSwitchValue(commandLine, L"/installpath:", installPath, kSwitchDeclaredSize) == 0) {
        return 0;
    }
    if (!::PathFileExistsW(installPath)) {
        return 0;
    }
    return RunInstaller(packagePath, BuildFullInstallerCommandLine(g_updateLog.InstallLogPath(), installPath));
}

#include "update/installer_launch.h"

#include "base/process_launch.h"
#include "log/update_log.h"
#include "update/installer_command_line.h"

#include <windows.h>
#include <shlwapi.h>

namespace {

// No window, no inherited handles, waited for without a time-out; true only for exit code 0.
bool RunInstaller(const wchar_t* program, const std::wstring& commandLine)
{
    const ProcessRun run = RunProcessAndWait(program, commandLine, CREATE_NO_WINDOW, INFINITE);
    return run.ended && run.exitCode == 0;
}

}  // namespace

bool RunPatchArchiveFile(const std::wstring& packagePath)
{
    const std::wstring installer = g_updateLog.ModuleDirectory() + L"\\setup.exe";
    const std::wstring commandLine = BuildPatchCommandLine(installer, packagePath, g_updateLog.SetupLogPath());
    g_updateLog.Stream() << L"RunPatchArchiveFile:" << commandLine;
    return RunInstaller(installer.c_str(), commandLine);
}

bool RunFullInstaller(const std::wstring& packagePath, const std::wstring& installPath)
{
    if (installPath.empty() || !::PathFileExistsW(installPath.c_str())) {
        return false;
    }
    return RunInstaller(packagePath.c_str(), BuildFullInstallerCommandLine(g_updateLog.InstallLogPath(), installPath));
}

#include "update/install/installer_launch.h"

#include "base/process_launch.h"
#include "build_settings.h"
#include "log/update_log.h"
#include "update/install/installer_command_line.h"

#include <windows.h>
#include <shlwapi.h>

namespace {

// No window, no inherited handles. An installer that outlives its time limit
// is left running but no longer waited for, so the updater (and its mutex)
// cannot be held for ever; it is handed the holds, which then last as long as it.
InstallerResult RunInstaller(const wchar_t* program, const std::wstring& commandLine, const std::vector<HANDLE>& holds)
{
    const ProcessRun run =
        RunProcessAndWait(program, commandLine, CREATE_NO_WINDOW, VELMAR_INSTALLER_TIME_LIMIT_MS, holds);
    if (!run.started) {
        g_updateLog.Stream() << L" InstallerNotStarted:" << program << L" (Windows error "
                             << static_cast<unsigned long>(run.error) << L")";
        return InstallerResult::NotStarted;
    }
    if (!run.ended && run.error == WAIT_TIMEOUT) {
        g_updateLog.Stream() << L" InstallerTimeLimit:" << program << L" still running after "
                             << VELMAR_INSTALLER_TIME_LIMIT_MS / 1000 << L" s, no longer waited for";
        if (run.handOverError != 0) {
            g_updateLog.Stream() << L" HoldNotHandedOver:" << program << L" (Windows error "
                                 << static_cast<unsigned long>(run.handOverError) << L")";
        }
        return InstallerResult::StillRunning;
    }
    return run.ended && run.exitCode == 0 ? InstallerResult::Succeeded : InstallerResult::Failed;
}

}  // namespace

InstallerResult RunPatchSetup(const std::wstring& packagePath, const InstallerPlaces& places,
                              const std::vector<HANDLE>& holds)
{
    const std::wstring commandLine = BuildPatchCommandLine(places.setupExe, packagePath, places.setupLog);
    g_updateLog.Stream() << L"RunPatchArchiveFile:" << commandLine;
    return RunInstaller(places.setupExe.c_str(), commandLine, holds);
}

bool MayRunFullInstaller(HANDLE heldFile, const std::wstring& packagePath, const std::wstring& url,
                         const PublisherPins& pins)
{
    const std::wstring refusal = PublisherRejection(CheckInstallerPublisher(heldFile, packagePath, pins));
    if (!refusal.empty()) {
        g_updateLog.Stream() << L" PackageRejected:" << url << L" " << refusal;
    }
    return refusal.empty();
}

InstallerResult RunFullInstaller(const std::wstring& packagePath, const std::wstring& installPath,
                                 const InstallerPlaces& places, const std::vector<HANDLE>& holds)
{
    if (installPath.empty() || !::PathFileExistsW(installPath.c_str())) {
        return InstallerResult::NotStarted;
    }
    return RunInstaller(packagePath.c_str(), BuildFullInstallerCommandLine(places.installLog, installPath), holds);
}

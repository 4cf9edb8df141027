#include "update/package_download.h"

#include "build_settings.h"
#include "log/update_log.h"
#include "net/transfer_rules.h"
#include "update/host_messages.h"
#include "update/installer_launch.h"
#include "update/package_location.h"
#include "update/signed_download.h"
#include "update/update_decision.h"
#include "update/update_result.h"

#include <windows.h>
#include <shlwapi.h>

#include <cstdlib>
#include <cwchar>

namespace {

constexpr wchar_t kManifestUrl[] = VELMAR_UPDATE_BASE_URL L"version.ini";

}  // namespace

std::wstring CreateDownloadDirectory()
{
    std::srand(::GetTickCount());
    const int number = std::rand();
    wchar_t folder[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, folder);
    wchar_t numberText[MAX_PATH] = {};
    std::swprintf(numberText, MAX_PATH, L"%d", number);
    std::wstring path = std::wstring(folder) + numberText;
    // An existing folder of that name is simply used.
    ::CreateDirectoryW(path.c_str(), nullptr);
    return path;
}

void DownloadAndInstallUpdate(const wchar_t* commandLine, const unsigned char* updatePublicKey)
{
    wchar_t tempDir[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, tempDir);
    wchar_t szManifestFile[MAX_PATH] = {};
    ::GetTempFileNameW(tempDir, L"ov", ::GetTickCount(), szManifestFile);
    switch (DownloadSignedFile(kManifestUrl, szManifestFile, ManifestTransferLimits(), updatePublicKey)) {
    case SignedDownload::Verified:
        break;
    case SignedDownload::TransferFailed:
        return;  // as if the server were away: nothing failed that was to be installed
    case SignedDownload::SignatureRejected:
        g_nUpdateResult = kUpdateFailed;  // someone answers for the server who must not
        return;
    }

    wchar_t szNewestUrl[kUrlBufferChars] = {};
    wchar_t szDownUrl[kUrlBufferChars] = {};
    int bFullPackage = 0;
    if (DecideUpdate(commandLine, szManifestFile, szDownUrl, bFullPackage, szNewestUrl) == 0) {
        g_nUpdateResult = kUpdateSucceeded;
        return;
    }
    if (bFullPackage != 0) {
        std::wmemset(szDownUrl, 0, kUrlBufferChars);
        std::wcsncpy(szDownUrl, szNewestUrl, kUrlBufferChars - 1);
    }

    const std::wstring downUrl(szDownUrl);
    std::wstring fileName;
    if (!FileNameFromUrl(downUrl, fileName) || !IsPlainFileName(fileName) || !HasHttpScheme(downUrl)) {
        g_nUpdateResult = kUpdateFailed;
        return;
    }
    const std::wstring packagePath = JoinPackagePath(CreateDownloadDirectory(), fileName, MAX_PATH);
    if (packagePath.empty()) {
        g_nUpdateResult = kUpdateFailed;
        return;
    }
    wchar_t szPackageFile[MAX_PATH] = {};
    std::wcsncpy(szPackageFile, packagePath.c_str(), MAX_PATH - 1);
    if (::PathFileExistsW(szPackageFile)) {
        ::DeleteFileW(szPackageFile);
    }
    g_updateLog.Stream() << L"szDownUrl:" << szDownUrl << szPackageFile;
    if (DownloadSignedFile(szDownUrl, szPackageFile, DefaultTransferLimits(), updatePublicKey) !=
        SignedDownload::Verified) {
        g_nUpdateResult = kUpdateFailed;
        return;
    }
    NotifyInstalling();
    const int installed =
        bFullPackage != 0 ? RunFullInstaller(commandLine, szPackageFile) : RunPatchArchiveFile(szPackageFile);
    g_nUpdateResult = installed != 0 ? kUpdateSucceeded : kUpdateFailed;
}

#include "update/package_download.h"

#include "base/random.h"
#include "log/update_log.h"
#include "net/transfer_rules.h"
#include "update/package_location.h"
#include "update/signed_download.h"

#include <windows.h>

namespace {

constexpr std::uint32_t kFolderNumbers = 32768;
constexpr int kFolderDraws = 8;

}  // namespace

std::wstring CreatePackageFolder()
{
    wchar_t temp[MAX_PATH] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH, temp);
    if (length == 0 || length >= MAX_PATH) {
        return std::wstring();
    }
    for (int draw = 0; draw < kFolderDraws; ++draw) {
        std::uint32_t number = 0;
        if (!RandomBelow(kFolderNumbers, number)) {
            return std::wstring();
        }
        const std::wstring folder = temp + std::to_wstring(number);
        if (::CreateDirectoryW(folder.c_str(), nullptr)) {
            return folder;
        }
        if (::GetLastError() != ERROR_ALREADY_EXISTS) {
            return std::wstring();
        }
        // Someone else's folder, or an earlier run's: what it holds is not ours to run.
    }
    return std::wstring();
}

bool DownloadPackage(const std::wstring& url, const UpdateKeys& keys, std::wstring& path)
{
    std::wstring fileName;
    if (!HasHttpScheme(url) || !FileNameFromUrl(url, fileName) || !IsPlainFileName(fileName)) {
        return false;
    }
    const std::wstring folder = CreatePackageFolder();
    if (folder.empty()) {
        g_updateLog.Stream() << L" NoPackageFolder:" << static_cast<unsigned long>(::GetLastError());
        return false;
    }
    path = JoinPackagePath(folder, fileName, MAX_PATH);
    if (path.empty()) {
        ::RemoveDirectoryW(folder.c_str());
        return false;
    }
    g_updateLog.Stream() << L"szDownUrl:" << url << path;
    return DownloadSignedFile(url.c_str(), path.c_str(), DefaultTransferLimits(), keys) == SignedDownload::Verified;
}

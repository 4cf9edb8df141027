#include "update/updater_registry.h"

#include "base/random.h"

#include <windows.h>
#include <shlwapi.h>

namespace {

constexpr wchar_t kLeftFoldersValue[] = L"LeftFolders";
constexpr wchar_t kInstallIdValue[] = L"InstallId";
// Far more than a few folder paths; a longer list is not ours.
constexpr DWORD kMaxListBytes = 64 * 1024;

std::vector<std::wstring> ReadLeftFolders()
{
    std::vector<wchar_t> data(kMaxListBytes / sizeof(wchar_t) + 2, L'\0');
    DWORD type = REG_NONE;
    DWORD size = kMaxListBytes;
    std::vector<std::wstring> folders;
    if (::SHGetValueW(HKEY_CURRENT_USER, kUpdaterRegistryKey, kLeftFoldersValue, &type, data.data(), &size) !=
            ERROR_SUCCESS ||
        type != REG_MULTI_SZ) {
        return folders;
    }
    // The zeros behind the data end the last string even when the value lacks them.
    for (const wchar_t* next = data.data(); next < data.data() + size / sizeof(wchar_t) && *next != L'\0';) {
        folders.emplace_back(next);
        next += folders.back().size() + 1;
    }
    return folders;
}

DWORD SaveLeftFolders(const std::vector<std::wstring>& folders)
{
    std::wstring list;
    for (const std::wstring& folder : folders) {
        list += folder;
        list += L'\0';
    }
    list += L'\0';
    const DWORD bytes = static_cast<DWORD>(list.size() * sizeof(wchar_t));
    DWORD status = ERROR_SUCCESS;
    if (folders.empty()) {
        status = ::SHDeleteValueW(HKEY_CURRENT_USER, kUpdaterRegistryKey, kLeftFoldersValue);
        status = status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;  // nothing to delete
    } else {
        status = ::SHSetValueW(HKEY_CURRENT_USER, kUpdaterRegistryKey, kLeftFoldersValue, REG_MULTI_SZ, list.data(),
                               bytes);
    }
    return status;
}

}  // namespace

std::optional<std::uint64_t> InstallId()
{
    std::uint64_t id = 0;
    DWORD type = REG_NONE;
    DWORD size = sizeof id;
    if (::SHGetValueW(HKEY_CURRENT_USER, kUpdaterRegistryKey, kInstallIdValue, &type, &id, &size) == ERROR_SUCCESS &&
        type == REG_QWORD && size == sizeof id && id != 0) {
        return id;
    }
    do {
        if (!RandomBytes(&id, sizeof id)) {
            return std::nullopt;
        }
    } while (id == 0);
    // An id that is not kept would place the installation anew each run, and so
    // sooner or later inside every rollout: none then.
    if (::SHSetValueW(HKEY_CURRENT_USER, kUpdaterRegistryKey, kInstallIdValue, REG_QWORD, &id, sizeof id) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    return id;
}

FolderRecords LeftFolders() { return FolderRecords{&ReadLeftFolders, &SaveLeftFolders}; }

#include "update/updater_registry.h"

#include "base/random.h"
#include "base/registry.h"

namespace {

constexpr wchar_t kLeftFoldersValue[] = L"LeftFolders";
constexpr wchar_t kInstallIdValue[] = L"InstallId";

std::optional<std::vector<std::wstring>> ReadLeftFolders()
{
    const std::optional<RegistryValue> value =
        ReadRegistryValue(HKEY_CURRENT_USER, kVelmarUserKey, kLeftFoldersValue, kMaxTextListBytes);
    return value ? TextListOf(value) : std::vector<std::wstring>();  // absent: none left
}

DWORD SaveLeftFolders(const std::vector<std::wstring>& folders)
{
    return WriteTextList(HKEY_CURRENT_USER, kVelmarUserKey, kLeftFoldersValue, folders);  // none left: the value goes
}

}  // namespace

std::optional<std::uint64_t> InstallId()
{
    const std::optional<std::uint64_t> stored =
        QwordOf(ReadRegistryValue(HKEY_CURRENT_USER, kVelmarUserKey, kInstallIdValue, sizeof(std::uint64_t)));
    if (stored && *stored != 0) {
        return stored;
    }
    std::uint64_t id = 0;
    do {
        if (!RandomBytes(&id, sizeof id)) {
            return std::nullopt;
        }
    } while (id == 0);
    // An id that is not kept would place the installation anew each run, and so
    // sooner or later inside every rollout: none then.
    if (WriteQword(HKEY_CURRENT_USER, kVelmarUserKey, kInstallIdValue, id) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return id;
}

FolderRecords LeftFolders() { return FolderRecords{&ReadLeftFolders, &SaveLeftFolders}; }

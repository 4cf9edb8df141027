#include "update/manifest/checkpoint_store.h"

#include "base/registry.h"

#include <algorithm>

namespace {

constexpr wchar_t kSizeValue[] = L"TlogSize";
constexpr wchar_t kRootValue[] = L"TlogRoot";

}  // namespace

std::optional<Checkpoint> StoredCheckpoint()
{
    RegistryKey key;
    if (key.Open(HKEY_CURRENT_USER, kVelmarUserKey) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    const std::optional<std::uint64_t> size = QwordOf(key.Read(kSizeValue, sizeof(std::uint64_t)));
    const std::optional<std::vector<unsigned char>> root = BytesOf(key.Read(kRootValue, 32), 32);
    if (!size || *size > 0x7FFFFFFFFFFFFFFFull || !root) {
        return std::nullopt;
    }
    Checkpoint stored;
    stored.size = *size;
    std::copy(root->begin(), root->end(), stored.root.begin());
    return stored;
}

void StoreCheckpoint(const Checkpoint& checkpoint)
{
    if (DeleteRegistryValue(HKEY_CURRENT_USER, kVelmarUserKey, kSizeValue) == ERROR_SUCCESS &&
        WriteBytes(HKEY_CURRENT_USER, kVelmarUserKey, kRootValue, checkpoint.root.data(), checkpoint.root.size()) ==
            ERROR_SUCCESS) {
        WriteQword(HKEY_CURRENT_USER, kVelmarUserKey, kSizeValue, checkpoint.size);
    }
}

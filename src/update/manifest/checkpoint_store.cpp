#include "update/manifest/checkpoint_store.h"

#include "base/registry.h"
#include "update/manifest/signature_check.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr wchar_t kSizeValue[] = L"TlogSize";
constexpr wchar_t kRootValue[] = L"TlogRoot";
constexpr wchar_t kLogValue[] = L"TlogLog";

// Which log a checkpoint is of: the SHA-256 of its origin and its key's DER
// SubjectPublicKeyInfo. A log started again under a new origin and key must
// not be judged by the old one's checkpoint: that would refuse it for ever.
std::vector<unsigned char> LogIdOf(const LogKey& log)
{
    std::vector<unsigned char> named(log.origin, log.origin + std::strlen(log.origin));
    const std::vector<unsigned char> info = P256PublicKeyInfo(log.key.xy);
    named.insert(named.end(), info.begin(), info.end());
    Sha256Digest id{};
    Sha256Of(named.data(), named.size(), id);
    return std::vector<unsigned char>(id.begin(), id.end());
}

}  // namespace

std::optional<Checkpoint> StoredCheckpoint(const LogKey& log)
{
    RegistryKey key;
    if (key.Open(HKEY_CURRENT_USER, kVelmarUserKey) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    const std::optional<std::uint64_t> size = QwordOf(key.Read(kSizeValue, sizeof(std::uint64_t)));
    const std::optional<std::vector<unsigned char>> root = BytesOf(key.Read(kRootValue, 32), 32);
    if (!size || *size > 0x7FFFFFFFFFFFFFFFull || !root || BytesOf(key.Read(kLogValue, 32), 32) != LogIdOf(log)) {
        return std::nullopt;
    }
    Checkpoint stored;
    stored.size = *size;
    std::copy(root->begin(), root->end(), stored.root.begin());
    return stored;
}

void StoreCheckpoint(const Checkpoint& checkpoint, const LogKey& log)
{
    const std::vector<unsigned char> id = LogIdOf(log);
    if (DeleteRegistryValue(HKEY_CURRENT_USER, kVelmarUserKey, kSizeValue) == ERROR_SUCCESS &&
        WriteBytes(HKEY_CURRENT_USER, kVelmarUserKey, kRootValue, checkpoint.root.data(), checkpoint.root.size()) ==
            ERROR_SUCCESS &&
        WriteBytes(HKEY_CURRENT_USER, kVelmarUserKey, kLogValue, id.data(), id.size()) == ERROR_SUCCESS) {
        WriteQword(HKEY_CURRENT_USER, kVelmarUserKey, kSizeValue, checkpoint.size);
    }
}

#include "update/manifest/serial_store.h"

#include "base/hex_text.h"
#include "base/sha256.h"
#include "log/update_log.h"
#include "update/manifest/manifest_rules.h"
#include "update/manifest/signature_check.h"

#include "base/registry.h"

#include <optional>
#include <vector>

namespace {

constexpr std::uint64_t kLargestSerial = 0x7FFFFFFFFFFFFFFFull;

// The log's words for each verdict, in the order of ManifestVerdict.
const wchar_t* const kVerdictTexts[] = {L"accepted", L"serial missing or malformed", L"expires missing or malformed",
                                        L"expired", L"serial lower than one accepted before"};

// Only an 8-byte REG_QWORD up to 2^63 - 1 counts.
std::optional<std::uint64_t> ReadManifestSerial(const std::wstring& valueName)
{
    const std::optional<std::uint64_t> stored =
        QwordOf(ReadRegistryValue(HKEY_CURRENT_USER, kVelmarUserKey, valueName.c_str(), sizeof(std::uint64_t)));
    return stored && *stored <= kLargestSerial ? stored : std::nullopt;
}

}  // namespace

std::wstring ManifestSerialValueName(const UpdateKey& key)
{
    const std::vector<unsigned char> info = P256PublicKeyInfo(key.xy);
    Sha256Digest digest{};
    Sha256Of(info.data(), info.size(), digest);  // a failure names a value no key has: no serial then
    return L"ManifestSerial-" + LowerHex(digest.data(), 8);
}

std::optional<AcceptedSerial> JudgeSignedManifest(const Manifest& manifest, const UpdateKeys& keys,
                                                  std::size_t signer, std::int64_t nowSeconds)
{
    const std::wstring valueName = ManifestSerialValueName(keys.keys[signer]);
    // A later key's record is written only when a manifest signed with it was
    // accepted: from then on the earlier keys are retired here. The same key
    // listed twice does not retire itself.
    for (std::size_t later = signer + 1; later < keys.count; ++later) {
        const std::wstring laterName = ManifestSerialValueName(keys.keys[later]);
        if (laterName != valueName && ReadManifestSerial(laterName)) {
            g_updateLog.Stream() << L" ManifestRejected:signed with a retired key";
            return std::nullopt;
        }
    }
    const std::optional<std::uint64_t> accepted = ReadManifestSerial(valueName);
    const ManifestVerdict verdict = JudgeManifest(manifest.serial.value, manifest.expires.value, nowSeconds, accepted);
    if (verdict != ManifestVerdict::Accepted) {
        // The serial and expiry as written: a malformed one is shown as it came.
        auto& entry = g_updateLog.Stream() << L" ManifestRejected:" << kVerdictTexts[static_cast<int>(verdict)]
                                           << L" (serial " << manifest.serial.text << L", expires "
                                           << manifest.expires.text;
        if (accepted) {
            entry << L", accepted before " << *accepted;
        }
        entry << L")";
        return std::nullopt;
    }
    return AcceptedSerial{valueName, *manifest.serial.value};
}

void StoreAcceptedSerial(const AcceptedSerial& accepted)
{
    WriteQword(HKEY_CURRENT_USER, kVelmarUserKey, accepted.valueName.c_str(), accepted.serial);
}

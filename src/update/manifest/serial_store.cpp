#include "update/manifest/serial_store.h"

#include "base/hex_text.h"
#include "base/sha256.h"
#include "log/update_log.h"
#include "update/manifest/manifest_rules.h"

#include "base/registry.h"

#include <cstring>
#include <optional>

namespace {

constexpr std::uint64_t kLargestSerial = 0x7FFFFFFFFFFFFFFFull;

// The log's words for each verdict, in the order of ManifestVerdict.
const wchar_t* const kVerdictTexts[] = {L"accepted", L"serial missing or malformed", L"expires missing or malformed",
                                        L"expired", L"serial lower than one accepted before"};

// Every P-256 SubjectPublicKeyInfo starts so: id-ecPublicKey, prime256v1, a
// 66-byte bit string holding the uncompressed point (0x04, X, Y).
const unsigned char kP256InfoHead[] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x02, 0x01, 0x06,
                                       0x08, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04};

// Only an 8-byte REG_QWORD up to 2^63 - 1 counts.
std::optional<std::uint64_t> ReadManifestSerial(const std::wstring& valueName)
{
    const std::optional<std::uint64_t> stored =
        QwordOf(ReadRegistryValue(HKEY_CURRENT_USER, kVelmarUserKey, valueName.c_str(), sizeof(std::uint64_t)));
    return stored && *stored <= kLargestSerial ? stored : std::nullopt;
}

void SaveManifestSerial(const std::wstring& valueName, std::uint64_t serial)
{
    // A failed write leaves the older serial; the next manifest is judged by that.
    WriteQword(HKEY_CURRENT_USER, kVelmarUserKey, valueName.c_str(), serial);
}

}  // namespace

std::wstring ManifestSerialValueName(const UpdateKey& key)
{
    unsigned char info[sizeof kP256InfoHead + sizeof key.xy];
    std::memcpy(info, kP256InfoHead, sizeof kP256InfoHead);
    std::memcpy(info + sizeof kP256InfoHead, key.xy, sizeof key.xy);
    Sha256Digest digest{};
    Sha256Of(info, sizeof info, digest);  // a failure names a value no key has: no serial then
    return L"ManifestSerial-" + LowerHex(digest.data(), 8);
}

bool AcceptSignedManifest(const Manifest& manifest, const UpdateKeys& keys, std::size_t signer,
                          std::int64_t nowSeconds)
{
    const std::wstring valueName = ManifestSerialValueName(keys.keys[signer]);
    // A later key's record is written only when a manifest signed with it was
    // accepted: from then on the earlier keys are retired here. The same key
    // listed twice does not retire itself.
    for (std::size_t later = signer + 1; later < keys.count; ++later) {
        const std::wstring laterName = ManifestSerialValueName(keys.keys[later]);
        if (laterName != valueName && ReadManifestSerial(laterName)) {
            g_updateLog.Stream() << L" ManifestRejected:signed with a retired key";
            return false;
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
        return false;
    }
    SaveManifestSerial(valueName, *manifest.serial.value);
    return true;
}

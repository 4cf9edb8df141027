#include "update/manifest.h"

#include "base/hex_text.h"
#include "base/sha256.h"
#include "build_settings.h"
#include "log/update_log.h"
#include "net/http_download.h"
#include "net/transfer_rules.h"
#include "update/check_schedule.h"
#include "update/manifest_signature.h"
#include "update/updater_registry.h"

#include <windows.h>

#include <cstring>

namespace {

// The log's words for each verdict, in the order of ManifestVerdict.
const wchar_t* const kVerdictTexts[] = {L"accepted", L"serial missing or malformed", L"expires missing or malformed",
                                        L"expired", L"serial lower than one accepted before"};

// Every P-256 SubjectPublicKeyInfo starts so: id-ecPublicKey, prime256v1, a
// 66-byte bit string holding the uncompressed point (0x04, X, Y).
const unsigned char kP256InfoHead[] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x02, 0x01, 0x06,
                                       0x08, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04};

}  // namespace

FetchedManifest FetchManifest(const std::wstring& url, const UpdateKeys& keys)
{
    // The manifest and its signature share one budget, retries and waits included.
    const std::uint64_t deadline = ::GetTickCount64() + VELMAR_MANIFEST_TIME_LIMIT_MS;
    FetchedManifest fetched;
    std::string body;
    if (!DownloadUrlToString(url.c_str(), ManifestTransferLimits(), deadline, body)) {
        return fetched;
    }
    if (keys.Any()) {
        fetched.signingKey = VerifyDetachedSignature(url, body, ManifestTransferLimits(), deadline, keys);
        if (!fetched.signingKey) {
            fetched.status = ManifestFetch::Rejected;
            return fetched;
        }
    }
    fetched.manifest = ParseManifest(body);
    fetched.status = ManifestFetch::Fetched;
    return fetched;
}

std::wstring ManifestSerialValueName(const UpdateKey& key)
{
    unsigned char info[sizeof kP256InfoHead + sizeof key.xy];
    std::memcpy(info, kP256InfoHead, sizeof kP256InfoHead);
    std::memcpy(info + sizeof kP256InfoHead, key.xy, sizeof key.xy);
    Sha256Digest digest{};
    Sha256Of(info, sizeof info, digest);  // a failure names a value no key has: no serial then
    return L"ManifestSerial-" + LowerHex(digest.data(), 8);
}

bool AcceptSignedManifest(const Manifest& manifest, const UpdateKeys& keys, std::size_t signer)
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
    const ManifestVerdict verdict = JudgeManifest(manifest.serial, manifest.expires, CurrentUnixTime(), accepted);
    if (verdict != ManifestVerdict::Accepted) {
        auto& entry = g_updateLog.Stream() << L" ManifestRejected:" << kVerdictTexts[static_cast<int>(verdict)]
                                           << L" (serial " << manifest.serial << L", expires " << manifest.expires;
        if (accepted) {
            entry << L", accepted before " << *accepted;
        }
        entry << L")";
        return false;
    }
    SaveManifestSerial(valueName, *ParseManifestSerial(manifest.serial));
    return true;
}

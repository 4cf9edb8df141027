#include "update/manifest/manifest_signature.h"

#include "log/update_log.h"
#include "net/http_download.h"
#include "base/sha256.h"
#include "update/manifest/signature_check.h"

#include <windows.h>

#include <algorithm>
#include <string>

namespace {

// A .sig is tiny; anything larger than this is refused before it is stored.
constexpr std::uint64_t kMaxSignatureDownloadBytes = 1024;

const wchar_t* Describe(SignatureVerdict verdict)
{
    switch (verdict) {
    case SignatureVerdict::Valid:
        return L"valid";
    case SignatureVerdict::Malformed:
        return L"signature malformed";
    case SignatureVerdict::Mismatch:
        return L"signature does not match";
    case SignatureVerdict::Failed:
        break;
    }
    return L"signature could not be checked";
}

std::optional<std::size_t> Reject(const std::wstring& url, const wchar_t* why)
{
    g_updateLog.Stream() << L" SignatureRejected:" << url << L" " << why;
    return std::nullopt;
}

// The key that verifies it; otherwise the first verdict that is not a mismatch.
SignatureVerdict VerifyUnderAnyKey(const UpdateKeys& keys, const Sha256Digest& digest, const std::string& signature,
                                   std::size_t& signer)
{
    unsigned char hashed[32];
    std::copy(digest.begin(), digest.end(), hashed);
    SignatureVerdict verdict = SignatureVerdict::Mismatch;
    for (std::size_t i = 0; i < keys.count; ++i) {
        const SignatureVerdict one = VerifyP256Signature(keys.keys[i].xy, hashed, signature);
        if (one == SignatureVerdict::Valid) {
            signer = i;
            return one;
        }
        if (verdict == SignatureVerdict::Mismatch) {
            verdict = one;
        }
    }
    return verdict;
}

}  // namespace

std::optional<std::size_t> VerifyDetachedSignature(const std::wstring& url, const std::string& bytes,
                                                   const TransferLimits& limits, std::uint64_t deadlineTick,
                                                   const UpdateKeys& keys)
{
    Sha256Digest digest{};
    if (!Sha256Of(bytes.data(), bytes.size(), digest)) {
        return Reject(url, L"could not hash the file");
    }
    TransferLimits signatureLimits = limits;
    signatureLimits.maxBytes = kMaxSignatureDownloadBytes;
    std::string signature;
    if (!DownloadUrlToString((url + L".sig").c_str(), signatureLimits, deadlineTick, signature)) {
        return Reject(url, L"signature missing or unreadable");
    }
    std::size_t signer = 0;
    const SignatureVerdict verdict = VerifyUnderAnyKey(keys, digest, signature, signer);
    if (verdict != SignatureVerdict::Valid) {
        return Reject(url, Describe(verdict));
    }
    return signer;
}

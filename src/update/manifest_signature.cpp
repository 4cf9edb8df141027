#include "update/manifest_signature.h"

#include "log/update_log.h"
#include "net/http_download.h"
#include "update/der_signature.h"
#include "update/signature_check.h"

#include <windows.h>

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

bool Reject(const std::wstring& url, const wchar_t* why)
{
    g_updateLog.Stream() << L" SignatureRejected:" << url << L" " << why;
    return false;
}

// Valid when any key verifies it; otherwise the first verdict that is not a mismatch.
SignatureVerdict VerifyUnderAnyKey(const UpdateKeys& keys, const unsigned char (&digest)[32],
                                   const std::string& signature)
{
    SignatureVerdict verdict = SignatureVerdict::Mismatch;
    for (std::size_t i = 0; i < keys.count; ++i) {
        const SignatureVerdict one = VerifyP256Signature(keys.keys[i].xy, digest, signature);
        if (one == SignatureVerdict::Valid) {
            return one;
        }
        if (verdict == SignatureVerdict::Mismatch) {
            verdict = one;
        }
    }
    return verdict;
}

}  // namespace

bool VerifyDetachedSignature(const std::wstring& url, const std::string& bytes, const TransferLimits& limits,
                             const UpdateKeys& keys)
{
    Sha256 hash;
    unsigned char digest[32] = {};
    if (!hash.Update(bytes.data(), bytes.size()) || !hash.Finish(digest)) {
        return Reject(url, L"could not hash the file");
    }
    TransferLimits signatureLimits = limits;
    signatureLimits.maxBytes = kMaxSignatureDownloadBytes;
    std::string signature;
    if (!DownloadUrlToString((url + L".sig").c_str(), signatureLimits, signature)) {
        return Reject(url, L"signature missing or unreadable");
    }
    const SignatureVerdict verdict = VerifyUnderAnyKey(keys, digest, signature);
    return verdict == SignatureVerdict::Valid || Reject(url, Describe(verdict));
}

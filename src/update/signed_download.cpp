#include "update/signed_download.h"

#include "log/update_log.h"
#include "net/http_download.h"
#include "update/der_signature.h"
#include "update/signature_check.h"

#include <windows.h>

#include <memory>
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

SignedDownload Reject(const wchar_t* url, const wchar_t* path, const wchar_t* why)
{
    g_updateLog.Stream() << L" SignatureRejected:" << url << L" " << why;
    ::DeleteFileW(path);  // a file that failed its check is never left to be run
    return SignedDownload::SignatureRejected;
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

SignedDownload DownloadSignedFile(const wchar_t* url, const wchar_t* path, const TransferLimits& limits,
                                  const UpdateKeys& keys)
{
    if (!keys.Any()) {
        return DownloadUrlToFile(url, path, limits) ? SignedDownload::Verified : SignedDownload::TransferFailed;
    }
    // Shared with the download's thread, which feeds it piece by piece.
    const auto hash = std::make_shared<Sha256>();
    if (!DownloadUrlToFile(url, path, limits, [hash](const char* data, DWORD size) { hash->Update(data, size); })) {
        return SignedDownload::TransferFailed;
    }
    unsigned char digest[32] = {};
    if (!hash->Finish(digest)) {
        return Reject(url, path, L"could not hash the file");
    }

    TransferLimits signatureLimits = limits;
    signatureLimits.maxBytes = kMaxSignatureDownloadBytes;
    std::string signature;
    const std::wstring signatureUrl = std::wstring(url) + L".sig";
    if (!DownloadUrlToString(signatureUrl.c_str(), signatureLimits, signature)) {
        return Reject(url, path, L"signature missing or unreadable");
    }
    const SignatureVerdict verdict = VerifyUnderAnyKey(keys, digest, signature);
    if (verdict != SignatureVerdict::Valid) {
        return Reject(url, path, Describe(verdict));
    }
    return SignedDownload::Verified;
}

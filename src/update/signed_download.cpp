#include "update/signed_download.h"

#include "log/update_log.h"
#include "net/http_download.h"
#include "update/der_signature.h"
#include "update/signature_check.h"

#include <windows.h>

#include <algorithm>
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

}  // namespace

SignedDownload DownloadSignedFile(const wchar_t* url, const wchar_t* path, const TransferLimits& limits,
                                  const unsigned char* publicKey)
{
    if (publicKey == nullptr) {
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
    unsigned char key[64] = {};
    std::copy(publicKey, publicKey + 64, key);
    const SignatureVerdict verdict = VerifyP256Signature(key, digest, signature);
    if (verdict != SignatureVerdict::Valid) {
        return Reject(url, path, Describe(verdict));
    }
    return SignedDownload::Verified;
}

#include "update/install/installer_publisher.h"

#include "base/handle_owner.h"
#include "base/hex_text.h"
#include "base/win_status.h"
#include "update/install/signature_table.h"

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

namespace {

// One WinVerifyTrust verification of a file, its state always closed again.
// No UI and no revocation fetch: the updater runs unattended, and the pin decides
// who signed, not a network answer.
class TrustState {
public:
    TrustState(HANDLE file, const std::wstring& path)
    {
        file_.cbStruct = sizeof file_;
        file_.pcwszFilePath = path.c_str();
        file_.hFile = file;
        data_.cbStruct = sizeof data_;
        data_.dwUIChoice = WTD_UI_NONE;
        data_.fdwRevocationChecks = WTD_REVOKE_NONE;
        data_.dwUnionChoice = WTD_CHOICE_FILE;
        data_.pFile = &file_;
        data_.dwStateAction = WTD_STATEACTION_VERIFY;
        data_.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
        result_ = ::WinVerifyTrust(NoInteractiveUser(), &action_, &data_);
    }
    ~TrustState()
    {
        data_.dwStateAction = WTD_STATEACTION_CLOSE;
        ::WinVerifyTrust(NoInteractiveUser(), &action_, &data_);
    }
    TrustState(const TrustState&) = delete;
    TrustState& operator=(const TrustState&) = delete;

    LONG Result() const { return result_; }

    // The primary signer's own certificate, valid while the state is open; null when there is none.
    PCCERT_CONTEXT SignerCertificate() const
    {
        CRYPT_PROVIDER_DATA* provider = ::WTHelperProvDataFromStateData(data_.hWVTStateData);
        CRYPT_PROVIDER_SGNR* signer =
            provider != nullptr ? ::WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
        if (signer == nullptr || signer->csCertChain == 0 || signer->pasCertChain == nullptr) {
            return nullptr;
        }
        return signer->pasCertChain[0].pCert;
    }

private:
    static HWND NoInteractiveUser() { return static_cast<HWND>(INVALID_HANDLE_VALUE); }

    GUID action_ = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    WINTRUST_FILE_INFO file_{};
    WINTRUST_DATA data_{};
    LONG result_ = 0;
};

// From the certificate's own extension only. A certificate without one would be good for
// every use on Windows; a publisher must say code signing.
bool HasCodeSigningUsage(PCCERT_CONTEXT certificate)
{
    DWORD size = 0;
    if (!::CertGetEnhancedKeyUsage(certificate, CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, nullptr, &size) || size == 0) {
        return false;
    }
    std::vector<unsigned char> buffer(size);
    auto* usage = reinterpret_cast<CERT_ENHKEY_USAGE*>(buffer.data());
    if (!::CertGetEnhancedKeyUsage(certificate, CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, usage, &size)) {
        return false;
    }
    for (DWORD i = 0; i < usage->cUsageIdentifier; ++i) {
        if (std::strcmp(usage->rgpszUsageIdentifier[i], szOID_PKIX_KP_CODE_SIGNING) == 0) {
            return true;
        }
    }
    return false;
}

// The SHA-256 of the DER SubjectPublicKeyInfo, as openssl prints it for the pins;
// S_OK, or why it could not be had (for the log).
HRESULT PublisherKeyHash(PCCERT_CONTEXT certificate, Sha256Digest& digest)
{
    void* der = nullptr;
    DWORD size = 0;
    if (!::CryptEncodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, &certificate->pCertInfo->SubjectPublicKeyInfo,
                               CRYPT_ENCODE_ALLOC_FLAG, nullptr, &der, &size)) {
        return HRESULT_FROM_WIN32(WinStatus::LastError().Error());
    }
    const LocalMemory owner(der);
    return Sha256Of(der, size, digest) ? S_OK : E_FAIL;
}

// A signature's table is a few KiB; one far larger is not a signature's.
constexpr std::uint32_t kMaxCertificateTable = 1024 * 1024;

bool ReadAt(HANDLE file, std::uint64_t offset, unsigned char* buffer, DWORD size, DWORD& got)
{
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return ::ReadFile(file, buffer, size, &got, &at) != FALSE;
}

// The signature's table, read through the held handle, ends the file and holds the signature only.
bool HoldsOnlyItsSignature(HANDLE file)
{
    unsigned char headers[4096];
    DWORD got = 0;
    LARGE_INTEGER fileSize = {};
    if (!ReadAt(file, 0, headers, sizeof headers, got) || !::GetFileSizeEx(file, &fileSize)) {
        return false;
    }
    const std::optional<CertificateTable> table = CertificateTableOf(headers, got);
    if (!table || table->size > kMaxCertificateTable ||
        table->offset + table->size != static_cast<std::uint64_t>(fileSize.QuadPart)) {
        return false;
    }
    std::vector<unsigned char> bytes(table->size);
    return ReadAt(file, table->offset, bytes.data(), table->size, got) && got == table->size &&
           HoldsOnlyOneSignature(bytes.data(), bytes.size());
}

PublisherVerdict Refused(PublisherVerdict::Kind kind, long error = 0)
{
    PublisherVerdict verdict;
    verdict.kind = kind;
    verdict.error = error;
    return verdict;
}

}  // namespace

bool IsPinnedPublisher(const Sha256Digest& publisher, const PublisherPins& pins)
{
    bool pinned = false;
    for (std::size_t i = 0; i < pins.count; ++i) {
        unsigned char difference = 0;
        for (std::size_t j = 0; j < publisher.size(); ++j) {
            difference |= static_cast<unsigned char>(pins.pins[i].sha256[j] ^ publisher[j]);
        }
        pinned |= difference == 0;
    }
    return pinned;
}

std::wstring PublisherRejection(const PublisherVerdict& verdict)
{
    switch (verdict.kind) {
    case PublisherVerdict::Kind::Accepted:
        return L"";
    case PublisherVerdict::Kind::NotSigned:
        return L"not signed";
    case PublisherVerdict::Kind::DoesNotVerify: {
        wchar_t hex[16] = {};
        std::swprintf(hex, 16, L"0x%08lX", static_cast<unsigned long>(verdict.error));
        return std::wstring(L"the signature does not verify (") + hex + L")";
    }
    case PublisherVerdict::Kind::UnsignedBytes:
        return L"unsigned bytes beside its signature";
    case PublisherVerdict::Kind::NoCodeSigningUsage:
        return L"no code-signing usage";
    case PublisherVerdict::Kind::NotPinned:
        return L"publisher " + LowerHex(verdict.publisher.data(), 8) + L" not pinned";
    }
    return L"";
}

PublisherVerdict CheckInstallerPublisher(HANDLE heldFile, const std::wstring& path, const PublisherPins& pins)
{
    if (!pins.Any()) {
        return PublisherVerdict{};
    }
    const TrustState trust(heldFile, path);
    if (trust.Result() == TRUST_E_NOSIGNATURE) {
        return Refused(PublisherVerdict::Kind::NotSigned);
    }
    if (trust.Result() != ERROR_SUCCESS) {
        return Refused(PublisherVerdict::Kind::DoesNotVerify, trust.Result());
    }
    if (!HoldsOnlyItsSignature(heldFile)) {
        return Refused(PublisherVerdict::Kind::UnsignedBytes);
    }
    const PCCERT_CONTEXT signer = trust.SignerCertificate();
    if (signer == nullptr) {
        return Refused(PublisherVerdict::Kind::DoesNotVerify, TRUST_E_NO_SIGNER_CERT);
    }
    if (!HasCodeSigningUsage(signer)) {
        return Refused(PublisherVerdict::Kind::NoCodeSigningUsage);
    }
    PublisherVerdict verdict;
    if (const HRESULT hashed = PublisherKeyHash(signer, verdict.publisher); FAILED(hashed)) {
        return Refused(PublisherVerdict::Kind::DoesNotVerify, hashed);
    }
    if (!IsPinnedPublisher(verdict.publisher, pins)) {
        verdict.kind = PublisherVerdict::Kind::NotPinned;
    }
    return verdict;
}

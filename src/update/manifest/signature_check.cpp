#include "update/manifest/signature_check.h"

#include "base/bcrypt_handles.h"
#include "update/manifest/der_signature.h"

#include <cstring>

namespace {

// ntstatus.h clashes with windows.h unless included in a set order; this is the one code needed.
constexpr NTSTATUS kStatusInvalidSignature = static_cast<NTSTATUS>(0xC000A000UL);

}  // namespace

SignatureVerdict VerifyP256Signature(const unsigned char (&publicKey)[64], const unsigned char (&digest)[32],
                                     const std::string& signatureFile)
{
    unsigned char rs[64];
    if (!ParseDerP256Signature(reinterpret_cast<const unsigned char*>(signatureFile.data()), signatureFile.size(),
                               rs)) {
        return SignatureVerdict::Malformed;
    }

    AlgorithmProvider provider;
    if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(provider.Put(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0))) {
        return SignatureVerdict::Failed;
    }

    // BCRYPT_ECCPUBLIC_BLOB: the header, then X and Y of cbKey bytes each.
    unsigned char blob[sizeof(BCRYPT_ECCKEY_BLOB) + sizeof publicKey];
    BCRYPT_ECCKEY_BLOB header{};
    header.dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
    header.cbKey = 32;
    std::memcpy(blob, &header, sizeof header);
    std::memcpy(blob + sizeof header, publicKey, sizeof publicKey);

    KeyOwner key;
    if (!BCRYPT_SUCCESS(::BCryptImportKeyPair(provider.Get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, key.Put(), blob,
                                              sizeof blob, 0))) {
        return SignatureVerdict::Failed;
    }

    const NTSTATUS status = ::BCryptVerifySignature(key.Get(), nullptr, const_cast<PUCHAR>(digest), sizeof digest,
                                                    rs, sizeof rs, 0);
    if (BCRYPT_SUCCESS(status)) {
        return SignatureVerdict::Valid;
    }
    return status == kStatusInvalidSignature ? SignatureVerdict::Mismatch : SignatureVerdict::Failed;
}

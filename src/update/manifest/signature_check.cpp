#include "update/manifest/signature_check.h"

#include "base/bcrypt_handles.h"
#include "base/handle_owner.h"

#include <wincrypt.h>

#include <cstring>
#include <vector>

namespace {

// ntstatus.h clashes with windows.h unless included in a set order; this is the one code needed.
constexpr NTSTATUS kStatusInvalidSignature = static_cast<NTSTATUS>(0xC000A000UL);
constexpr DWORD kScalarBytes = 32;

// Every P-256 SubjectPublicKeyInfo starts so: id-ecPublicKey, prime256v1, a
// 66-byte bit string holding the uncompressed point (0x04, X, Y).
const unsigned char kP256InfoHead[] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x02, 0x01, 0x06,
                                       0x08, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04};

// A scalar as CryptoAPI gives it, little-endian, without the zeros at its high end.
CRYPT_UINT_BLOB Trimmed(CRYPT_UINT_BLOB value)
{
    while (value.cbData > 0 && value.pbData[value.cbData - 1] == 0) {
        --value.cbData;
    }
    return value;
}

// The one DER encoding of the two numbers, by CryptoAPI's own encoder; empty when it cannot say.
std::vector<BYTE> DerOf(const CRYPT_UINT_BLOB& r, const CRYPT_UINT_BLOB& s)
{
    BYTE* parts[2] = {};
    DWORD sizes[2] = {};
    const CRYPT_UINT_BLOB* values[2] = {&r, &s};
    LocalMemory owners[2];
    for (int i = 0; i < 2; ++i) {
        if (!::CryptEncodeObjectEx(X509_ASN_ENCODING, X509_MULTI_BYTE_UINT, values[i], CRYPT_ENCODE_ALLOC_FLAG,
                                   nullptr, &parts[i], &sizes[i])) {
            return {};
        }
        owners[i].Reset(parts[i]);
    }
    CRYPT_DER_BLOB blobs[2] = {{sizes[0], parts[0]}, {sizes[1], parts[1]}};
    CRYPT_SEQUENCE_OF_ANY sequence = {2, blobs};
    BYTE* der = nullptr;
    DWORD size = 0;
    if (!::CryptEncodeObjectEx(X509_ASN_ENCODING, X509_SEQUENCE_OF_ANY, &sequence, CRYPT_ENCODE_ALLOC_FLAG, nullptr,
                               &der, &size)) {
        return {};
    }
    const LocalMemory owner(der);
    return std::vector<BYTE>(der, der + size);
}

// Big-endian, left-padded to 32 bytes, as CNG takes r and s.
void PutBigEndian(const CRYPT_UINT_BLOB& value, unsigned char* out)
{
    std::memset(out, 0, kScalarBytes);
    for (DWORD i = 0; i < value.cbData; ++i) {
        out[kScalarBytes - 1 - i] = value.pbData[i];
    }
}

}  // namespace

bool ParseDerP256Signature(const unsigned char* der, std::size_t size, unsigned char (&rs)[64])
{
    if (der == nullptr || size < 2 || size > kMaxSignatureFileBytes) {
        return false;
    }
    CERT_ECC_SIGNATURE* decoded = nullptr;
    DWORD decodedSize = 0;
    if (!::CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ECC_SIGNATURE, der, static_cast<DWORD>(size),
                               CRYPT_DECODE_ALLOC_FLAG, nullptr, &decoded, &decodedSize)) {
        return false;
    }
    const LocalMemory owner(decoded);
    const CRYPT_UINT_BLOB r = Trimmed(decoded->r);
    const CRYPT_UINT_BLOB s = Trimmed(decoded->s);
    if (r.cbData == 0 || s.cbData == 0 || r.cbData > kScalarBytes || s.cbData > kScalarBytes) {
        return false;  // zero is no signature; more than 32 bytes is not P-256
    }
    // The decoder also takes BER and more: long lengths, needless zeros,
    // negative numbers, bytes after the end. Only the one DER form is a signature.
    if (DerOf(r, s) != std::vector<BYTE>(der, der + size)) {
        return false;
    }
    PutBigEndian(r, rs);
    PutBigEndian(s, rs + kScalarBytes);
    return true;
}

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

std::vector<unsigned char> P256PublicKeyInfo(const unsigned char (&xy)[64])
{
    std::vector<unsigned char> info(kP256InfoHead, kP256InfoHead + sizeof kP256InfoHead);
    info.insert(info.end(), xy, xy + sizeof xy);
    return info;
}

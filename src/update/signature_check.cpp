#include "update/signature_check.h"

#include "base/handle_owner.h"
#include "update/der_signature.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstring>
#include <limits>

namespace {

void CloseAlgorithmProvider(BCRYPT_ALG_HANDLE provider) { ::BCryptCloseAlgorithmProvider(provider, 0); }

using AlgorithmProvider = ScopedHandle<NullableHandleTraits<BCRYPT_ALG_HANDLE, &CloseAlgorithmProvider>>;
using HashOwner = ScopedHandle<NullableHandleTraits<BCRYPT_HASH_HANDLE, &::BCryptDestroyHash>>;
using KeyOwner = ScopedHandle<NullableHandleTraits<BCRYPT_KEY_HANDLE, &::BCryptDestroyKey>>;

// ntstatus.h clashes with windows.h unless included in a set order; this is the one code needed.
constexpr NTSTATUS kStatusInvalidSignature = static_cast<NTSTATUS>(0xC000A000UL);

}  // namespace

// The provider outlives the hash made from it: members are destroyed in reverse order.
struct Sha256::State {
    AlgorithmProvider provider;
    HashOwner hash;
};

Sha256::Sha256() : state_(new State)
{
    if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(state_->provider.Put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
        // No hash object buffer: CNG allocates it (Windows 7 and later).
        !BCRYPT_SUCCESS(::BCryptCreateHash(state_->provider.Get(), state_->hash.Put(), nullptr, 0, nullptr, 0, 0))) {
        state_.reset();
    }
}

Sha256::~Sha256() = default;

bool Sha256::Started() const { return state_ != nullptr; }

bool Sha256::Update(const void* data, std::size_t size)
{
    if (!Started()) {
        return false;
    }
    // BCryptHashData takes a ULONG length, so a larger buffer goes in several calls.
    constexpr std::size_t kMaxCall = std::numeric_limits<ULONG>::max();
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ULONG piece = static_cast<ULONG>(size < kMaxCall ? size : kMaxCall);
        if (!BCRYPT_SUCCESS(::BCryptHashData(state_->hash.Get(), const_cast<PUCHAR>(bytes), piece, 0))) {
            state_.reset();  // a digest of part of the data must never come out
            return false;
        }
        bytes += piece;
        size -= piece;
    }
    return true;
}

bool Sha256::Finish(unsigned char (&digest)[32])
{
    if (!Started()) {
        return false;
    }
    unsigned char result[32];
    const bool finished = BCRYPT_SUCCESS(::BCryptFinishHash(state_->hash.Get(), result, sizeof result, 0));
    state_.reset();
    if (finished) {
        std::memcpy(digest, result, sizeof result);
    }
    return finished;
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

#include "base/sha256.h"

#include "base/bcrypt_handles.h"

#include <cstring>
#include <limits>

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

bool Sha256Of(const void* data, std::size_t size, Sha256Digest& digest)
{
    Sha256 hash;
    unsigned char result[32];
    if (!hash.Update(data, size) || !hash.Finish(result)) {
        return false;
    }
    std::memcpy(digest.data(), result, sizeof result);
    return true;
}

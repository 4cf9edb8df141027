// SHA-256 with Windows CNG: the one hash every area uses (signatures, package
// checks, rollout places, key ids).
#pragma once

#include <array>
#include <cstddef>
#include <memory>

using Sha256Digest = std::array<unsigned char, 32>;

// Incremental SHA-256. One use: after Finish, or after any failure, it takes no
// more data and Finish fails.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    // False when CNG could not start a hash, or once the hasher is used up.
    bool Started() const;
    // Any size, including more than 4 GiB in one call.
    bool Update(const void* data, std::size_t size);
    bool Finish(unsigned char (&digest)[32]);

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The digest of one buffer; false when CNG fails.
bool Sha256Of(const void* data, std::size_t size, Sha256Digest& digest);

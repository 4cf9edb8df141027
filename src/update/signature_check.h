// Checks detached update signatures with Windows CNG: SHA-256 of a file's exact
// bytes, signed with ECDSA P-256.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

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

enum class SignatureVerdict {
    Valid,
    Malformed,  // the .sig is not a DER P-256 signature (also: empty, too long)
    Mismatch,   // well-formed, but not made by this key over this digest
    Failed,     // CNG could not check it
};

// publicKey is the curve point X then Y; signatureFile holds the bytes of the .sig file.
SignatureVerdict VerifyP256Signature(const unsigned char (&publicKey)[64], const unsigned char (&digest)[32],
                                     const std::string& signatureFile);

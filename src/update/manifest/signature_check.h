// Checks detached update signatures with Windows CNG: SHA-256 of a file's exact
// bytes, signed with ECDSA P-256.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// A .sig file longer than this is not a P-256 signature (the longest DER form is 72 bytes).
constexpr std::size_t kMaxSignatureFileBytes = 80;

// A signature as openssl writes it, DER SEQUENCE { INTEGER r, INTEGER s },
// decoded by CryptoAPI. Strict DER only: the one encoding of two positive
// numbers of at most 32 bytes, nothing after it. On success rs holds r then s,
// big-endian, each left-padded with zeros to 32 bytes; on failure rs is untouched.
bool ParseDerP256Signature(const unsigned char* der, std::size_t size, unsigned char (&rs)[64]);

enum class SignatureVerdict {
    Valid,
    Malformed,  // the .sig is not a DER P-256 signature (also: empty, too long)
    Mismatch,   // well-formed, but not made by this key over this digest
    Failed,     // CNG could not check it
};

// publicKey is the curve point X then Y; signatureFile holds the bytes of the .sig file.
SignatureVerdict VerifyP256Signature(const unsigned char (&publicKey)[64], const unsigned char (&digest)[32],
                                     const std::string& signatureFile);

// The DER SubjectPublicKeyInfo of the P-256 key with this point, as
// `openssl pkey -pubin -outform DER` writes it: what key ids are hashed from.
std::vector<unsigned char> P256PublicKeyInfo(const unsigned char (&xy)[64]);

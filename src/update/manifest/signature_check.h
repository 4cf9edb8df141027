// Checks detached update signatures with Windows CNG: SHA-256 of a file's exact
// bytes, signed with ECDSA P-256.
#pragma once

#include <string>

enum class SignatureVerdict {
    Valid,
    Malformed,  // the .sig is not a DER P-256 signature (also: empty, too long)
    Mismatch,   // well-formed, but not made by this key over this digest
    Failed,     // CNG could not check it
};

// publicKey is the curve point X then Y; signatureFile holds the bytes of the .sig file.
SignatureVerdict VerifyP256Signature(const unsigned char (&publicKey)[64], const unsigned char (&digest)[32],
                                     const std::string& signatureFile);

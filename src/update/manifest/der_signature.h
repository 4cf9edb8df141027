// ECDSA P-256 signatures as openssl writes them: DER SEQUENCE { INTEGER r, INTEGER s }.
#pragma once

#include <cstddef>

// A .sig file longer than this is not a P-256 signature (the longest DER form is 72 bytes).
constexpr std::size_t kMaxSignatureFileBytes = 80;

// Strict DER only: short-form lengths that match what follows, minimal positive
// integers of at most 32 value bytes, nothing after the sequence. On success rs
// holds r then s, each left-padded with zeros to 32 bytes; on failure rs is untouched.
bool ParseDerP256Signature(const unsigned char* der, std::size_t size, unsigned char (&rs)[64]);

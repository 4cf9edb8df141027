#include "update/manifest/der_signature.h"

#include <cstring>

namespace {

constexpr unsigned char kSequenceTag = 0x30;
constexpr unsigned char kIntegerTag = 0x02;
constexpr std::size_t kScalarBytes = 32;

// Reads one INTEGER at der[pos] that must end by `end`, and writes it right-aligned into out.
bool ReadScalar(const unsigned char* der, std::size_t end, std::size_t& pos, unsigned char* out)
{
    if (end - pos < 2 || der[pos] != kIntegerTag) {
        return false;
    }
    std::size_t length = der[pos + 1];
    pos += 2;
    // A long-form length (high bit) never occurs for P-256; zero-length integers are not DER.
    if (length == 0 || length > kScalarBytes + 1 || length > end - pos) {
        return false;
    }
    const unsigned char* value = der + pos;
    pos += length;
    if ((value[0] & 0x80) != 0) {
        return false;  // negative
    }
    if (value[0] == 0x00) {
        // A leading zero only keeps a high bit from reading as a sign.
        if (length == 1 || (value[1] & 0x80) == 0) {
            return false;
        }
        ++value;
        --length;
    }
    if (length > kScalarBytes) {
        return false;
    }
    std::memset(out, 0, kScalarBytes - length);
    std::memcpy(out + kScalarBytes - length, value, length);
    return true;
}

}  // namespace

bool ParseDerP256Signature(const unsigned char* der, std::size_t size, unsigned char (&rs)[64])
{
    if (der == nullptr || size < 2 || size > kMaxSignatureFileBytes) {
        return false;
    }
    if (der[0] != kSequenceTag || static_cast<std::size_t>(der[1]) != size - 2) {
        return false;  // also rejects long-form lengths, whose first byte is at least 0x80
    }
    unsigned char parsed[64];
    std::size_t pos = 2;
    if (!ReadScalar(der, size, pos, parsed) || !ReadScalar(der, size, pos, parsed + kScalarBytes) ||
        pos != size) {
        return false;
    }
    std::memcpy(rs, parsed, sizeof parsed);
    return true;
}

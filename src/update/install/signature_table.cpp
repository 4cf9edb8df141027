#include "update/install/signature_table.h"

namespace {

std::uint32_t Le(const unsigned char* bytes, int count)
{
    std::uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i) {
        value = value << 8 | bytes[i];
    }
    return value;
}

constexpr std::size_t kWinCertificateHeader = 8;  // dwLength, wRevision, wCertificateType
constexpr std::size_t kSecurityDirectory = 4;

}  // namespace

std::optional<CertificateTable> CertificateTableOf(const unsigned char* headers, std::size_t size)
{
    if (size < 0x40 || headers[0] != 'M' || headers[1] != 'Z') {
        return std::nullopt;
    }
    const std::uint64_t pe = Le(headers + 0x3C, 4);
    // The signature, the file header (20 bytes), then the optional header's magic.
    if (pe + 26 > size || Le(headers + pe, 4) != 0x00004550) {
        return std::nullopt;
    }
    const std::uint32_t optionalSize = Le(headers + pe + 20, 2);
    const std::uint32_t magic = Le(headers + pe + 24, 2);
    const std::uint64_t countAt = pe + 24 + (magic == 0x20B ? 108 : 92);
    const std::uint64_t entry = countAt + 4 + 8 * kSecurityDirectory;
    if ((magic != 0x10B && magic != 0x20B) || entry + 8 > size || entry + 8 > pe + 24 + optionalSize ||
        Le(headers + countAt, 4) <= kSecurityDirectory) {
        return std::nullopt;
    }
    CertificateTable table;
    table.offset = Le(headers + entry, 4);
    table.size = Le(headers + entry + 4, 4);
    if (table.offset == 0 || table.size == 0) {
        return std::nullopt;
    }
    return table;
}

bool HoldsOnlyOneSignature(const unsigned char* table, std::size_t size)
{
    if (size < kWinCertificateHeader + 2) {
        return false;
    }
    const std::uint64_t length = Le(table, 4);
    if (length < kWinCertificateHeader + 2 || length > size || size - length >= 8) {
        return false;  // more than one entry, or one that runs past the table
    }
    // A DER SEQUENCE of definite length: its tag, its length's bytes, its content.
    const unsigned char* der = table + kWinCertificateHeader;
    std::uint64_t header = 2;
    std::uint64_t content = der[1];
    if (der[0] != 0x30) {
        return false;
    }
    if (der[1] & 0x80) {
        const std::size_t digits = der[1] & 0x7F;
        if (digits == 0 || digits > 4 || kWinCertificateHeader + 2 + digits > length) {
            return false;
        }
        header += digits;
        content = 0;
        for (std::size_t i = 0; i < digits; ++i) {
            content = content << 8 | der[2 + i];
        }
    }
    const std::uint64_t end = kWinCertificateHeader + header + content;
    if (end > length || size - end >= 8) {
        return false;
    }
    for (std::size_t i = static_cast<std::size_t>(end); i < size; ++i) {
        if (table[i] != 0) {
            return false;
        }
    }
    return true;
}

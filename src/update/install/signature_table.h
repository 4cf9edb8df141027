// Where a PE file keeps its Authenticode signature, and whether that table holds
// anything else: rules on plain bytes. Bytes in the table beside the signature are
// covered by no signature (Windows takes them unless EnableCertPaddingCheck is set),
// and an installer may read them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

// The certificate table: its file offset and size.
struct CertificateTable {
    std::uint64_t offset = 0;
    std::uint32_t size = 0;
};

// The table that the PE headers name, read from the first `size` bytes of the
// file; nullopt when they are not PE headers or name none.
std::optional<CertificateTable> CertificateTableOf(const unsigned char* headers, std::size_t size);

// Whether the table is one WIN_CERTIFICATE whose content is one DER SEQUENCE (the
// PKCS#7 signature), followed by nothing but the zeros up to the next 8-byte boundary.
bool HoldsOnlyOneSignature(const unsigned char* table, std::size_t size);

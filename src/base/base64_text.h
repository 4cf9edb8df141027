// Base64 (RFC 4648, padded), as signed notes and log proofs write hashes and signatures.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

std::string Base64Text(const unsigned char* bytes, std::size_t size);

// The bytes of canonical base64 text only: padded to whole groups of four, no
// blanks or line ends, the bits under the padding zero. One text, one value:
// nullopt for anything else.
std::optional<std::vector<unsigned char>> Base64Bytes(const std::string& text);

// Bytes as hexadecimal text and back.
#pragma once

#include <cstddef>
#include <string>

// Two lower-case digits per byte.
std::wstring LowerHex(const unsigned char* bytes, std::size_t size);

// 0 to 15 for a hexadecimal digit of either case; -1 for anything else.
int HexDigitValue(wchar_t c);

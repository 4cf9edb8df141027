#include "base/base64_text.h"

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int SextetOf(char c)
{
    for (int i = 0; i < 64; ++i) {
        if (kAlphabet[i] == c) {
            return i;
        }
    }
    return -1;
}

}  // namespace

std::string Base64Text(const unsigned char* bytes, std::size_t size)
{
    std::string text;
    for (std::size_t at = 0; at < size; at += 3) {
        const std::size_t left = size - at;
        const unsigned long group = (static_cast<unsigned long>(bytes[at]) << 16) |
                                    (left > 1 ? static_cast<unsigned long>(bytes[at + 1]) << 8 : 0) |
                                    (left > 2 ? bytes[at + 2] : 0);
        for (int i = 0; i < 4; ++i) {
            text += i <= static_cast<int>(left) ? kAlphabet[(group >> (18 - 6 * i)) & 63] : '=';
        }
    }
    return text;
}

std::optional<std::vector<unsigned char>> Base64Bytes(const std::string& text)
{
    if (text.size() % 4 != 0) {
        return std::nullopt;
    }
    std::vector<unsigned char> bytes;
    for (std::size_t at = 0; at < text.size(); at += 4) {
        const bool last = at + 4 == text.size();
        unsigned long group = 0;
        int padding = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            const int sextet = SextetOf(text[at + i]);
            // "=" only as the last one or two characters of the text.
            if (text[at + i] == '=' && last && i >= 2) {
                ++padding;
            } else if (sextet < 0 || padding > 0) {
                return std::nullopt;
            }
            group = (group << 6) | (sextet < 0 ? 0 : static_cast<unsigned long>(sextet));
        }
        const unsigned long unused = padding == 2 ? 0xFFFF : padding == 1 ? 0xFF : 0;
        if ((group & unused) != 0) {
            return std::nullopt;
        }
        for (int i = 0; i < 3 - padding; ++i) {
            bytes.push_back(static_cast<unsigned char>(group >> (16 - 8 * i)));
        }
    }
    return bytes;
}

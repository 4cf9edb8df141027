#include "log/log_text.h"

namespace {

constexpr unsigned long kReplacement = 0xFFFD;

bool IsHighSurrogate(unsigned long unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(unsigned long unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace

void AppendUtf8CodePoint(unsigned long codePoint, std::string& out)
{
    if (codePoint > 0x10FFFF) {
        codePoint = kReplacement;
    }
    if (codePoint < 0x80) {
        out.push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
}

void Utf8LogEncoder::Append(const wchar_t* text, std::size_t length, std::string& out)
{
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned long unit = static_cast<unsigned long>(text[i]);
        if (pendingHigh_ != 0) {
            if (IsLowSurrogate(unit)) {
                AppendUtf8CodePoint(0x10000 + ((pendingHigh_ - 0xD800) << 10) + (unit - 0xDC00), out);
                pendingHigh_ = 0;
                continue;
            }
            AppendUtf8CodePoint(kReplacement, out);
            pendingHigh_ = 0;
        }
        if (IsHighSurrogate(unit)) {
            pendingHigh_ = unit;
        } else if (IsLowSurrogate(unit)) {
            AppendUtf8CodePoint(kReplacement, out);
        } else if (unit == L'\n') {
            out += "\r\n";
        } else {
            AppendUtf8CodePoint(unit, out);
        }
    }
}

void Utf8LogEncoder::Finish(std::string& out)
{
    if (pendingHigh_ != 0) {
        AppendUtf8CodePoint(kReplacement, out);
        pendingHigh_ = 0;
    }
}

#include "log/log_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Encode(const std::wstring& text)
{
    Utf8LogEncoder encoder;
    std::string out;
    encoder.Append(text.data(), text.size(), out);
    encoder.Finish(out);
    return out;
}

TEST(LogText, EncodesUtf8WithCrLf)
{
    const struct {
        std::wstring in;
        std::string out;
    } cases[] = {
        {L"AutoUpdateVelmar", "AutoUpdateVelmar"},
        {L"Wait for debugger\n", "Wait for debugger\r\n"},
        {L"caf\u00e9", "caf\xc3\xa9"},
        {L"C:\\\u4e2d\u6587\\x", "C:\\\xe4\xb8\xad\xe6\x96\x87\\x"},
        {L"\xd83d\xde00", "\xf0\x9f\x98\x80"},   // surrogate pair
        {L"a\xd800" L"b", "a\xef\xbf\xbd" "b"},  // lone high surrogate
        {L"a\xdc00", "a\xef\xbf\xbd"},           // lone low surrogate
        {L"\x7f\x80\x7ff\x800", "\x7f\xc2\x80\xdf\xbf\xe0\xa0\x80"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.out, Encode(c.in));
    }
}

TEST(LogText, JoinsSurrogatePairSplitAcrossPieces)
{
    Utf8LogEncoder encoder;
    std::string out;
    const wchar_t high[] = {0xD83D};
    const wchar_t low[] = {0xDE00, L'!'};
    encoder.Append(high, 1, out);
    encoder.Append(low, 2, out);
    encoder.Finish(out);
    EXPECT_EQ("\xf0\x9f\x98\x80!", out);
}

TEST(LogText, PendingHighSurrogateAtEndBecomesReplacement)
{
    Utf8LogEncoder encoder;
    std::string out;
    const wchar_t high[] = {0xD83D};
    encoder.Append(high, 1, out);
    EXPECT_EQ("", out);
    encoder.Finish(out);
    EXPECT_EQ("\xef\xbf\xbd", out);
}

}  // namespace

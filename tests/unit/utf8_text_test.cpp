#include "base/utf8_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct TextCase {
    const char* label;
    std::wstring wide;
    std::string utf8;
};

class Utf8TextTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(Utf8TextTest, ConvertsBothWays)
{
    const TextCase& c = GetParam();
    EXPECT_EQ(c.utf8, Utf8FromWide(c.wide));
    EXPECT_EQ(c.wide, WideFromUtf8(c.utf8));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Utf8TextTest,
    ::testing::Values(TextCase{"empty", L"", ""}, TextCase{"ascii", L"Orvanta Velmar", "Orvanta Velmar"},
                      TextCase{"cr_lf_quote", L"a\r\n\"b\"", "a\r\n\"b\""},
                      TextCase{"latin", L"caf\u00E9", "caf\xC3\xA9"},
                      TextCase{"cjk_path", L"C:\\\u4E2D\u6587\\d.dmp", "C:\\\xE4\xB8\xAD\xE6\x96\x87\\d.dmp"},
                      TextCase{"surrogate_pair", L"\xD83D\xDE00", "\xF0\x9F\x98\x80"}),
    [](const ::testing::TestParamInfo<TextCase>& info) { return std::string(info.param.label); });

TEST(Utf8Text, WideFromUtf8StopsAtAZeroByte)
{
    EXPECT_EQ(std::wstring(L"ok"), WideFromUtf8(std::string("ok\0tail", 7)));
    EXPECT_EQ(std::wstring(), WideFromUtf8(std::string("\0tail", 5)));
}

TEST(Utf8Text, Utf8FromWideStopsAtAZeroUnit)
{
    EXPECT_EQ(std::string("ok"), Utf8FromWide(std::wstring(L"ok\0tail", 7)));
}

TEST(Utf8Text, InvalidBytesBecomeReplacementCharacters)
{
    // A reply is shown, never trusted: bad bytes must not cut it off.
    const std::wstring text = WideFromUtf8("a\xFF" "b");
    ASSERT_EQ(3u, text.size());
    EXPECT_EQ(L'a', text[0]);
    EXPECT_EQ(L'\xFFFD', text[1]);
    EXPECT_EQ(L'b', text[2]);
}

}  // namespace

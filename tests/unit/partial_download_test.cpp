#include "update/package/partial_download.h"
#include "update/package/resume_rules.h"

#include <gtest/gtest.h>

namespace {

TEST(PartialDownload, AResumedAnswerMustContinueTheBytesKept)
{
    const struct {
        const wchar_t* contentRange;
        bool continues;
    } cases[] = {
        {L"bytes 30000-102399/102400", true},  {L"bytes 0-102399/102400", false},
        {L"bytes 30000-102398/102400", false}, {L"bytes 30000-102399/102401", false},
        {L"bytes 30000-102399/*", false},      {L"bytes */102400", false},
        {L"items 30000-102399/102400", false}, {L"", false},
        {L"bytes 29999-102399/102400", false}, {L"bytes 30000-102399/102400x", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.continues, ContinuesAt(c.contentRange, 30000, 102400)) << c.contentRange;
    }
    // Only a strong ETag vouches for the bytes; else the date.
    EXPECT_EQ(L"\"a1\"", ChooseValidator(L"\"a1\"", L"Sun, 06 Nov 1994 08:49:37 GMT"));
    EXPECT_EQ(L"Sun, 06 Nov 1994 08:49:37 GMT", ChooseValidator(L"W/\"a1\"", L"Sun, 06 Nov 1994 08:49:37 GMT"));
    EXPECT_EQ(L"", ChooseValidator(L"W/\"a1\"", L""));
}

TEST(PartialDownload, StateSurvivesItsFileOnlyWhole)
{
    const PartialState state{L"http://h/update/1.0.0.5-1.0.0.9/velmar.diff", L"\"a1-b2\"", 102400, L"00ff"};
    const std::string text = FormatPartialState(state);
    const std::optional<PartialState> back = ParsePartialState(text);
    ASSERT_TRUE(back);
    EXPECT_EQ(state.url, back->url);
    EXPECT_EQ(state.validator, back->validator);
    EXPECT_EQ(state.size, back->size);
    EXPECT_EQ(state.sha256, back->sha256);
    EXPECT_FALSE(ParsePartialState(text.substr(0, text.size() - 1)));
    EXPECT_FALSE(ParsePartialState("url=x\nvalidator=\nsize=12z\nsha256=\n"));
    EXPECT_FALSE(ParsePartialState("url=x\nvalidator=\nsize=0\nsha256=\n"));
    // A control character would reach the If-Range line.
    EXPECT_FALSE(ParsePartialState("url=x\nvalidator=\"a\rb\"\nsize=12\nsha256=\n"));
    EXPECT_EQ(L"", ChooseValidator(L"\"a\rb\"", L"Sun, 06 Nov\n1994"));
}

}  // namespace

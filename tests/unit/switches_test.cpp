#include "app/switches.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct LookupCase {
    const char* label;
    std::wstring commandLine;
    const wchar_t* switchText;
    int found;
    std::wstring value;
};

class SwitchValueTest : public ::testing::TestWithParam<LookupCase> {};

TEST_P(SwitchValueTest, FindsValue)
{
    const LookupCase& c = GetParam();
    wchar_t buffer[kSwitchBufferChars] = {};
    EXPECT_EQ(c.found, GetSwitchValue(c.commandLine.c_str(), c.switchText, buffer, kSwitchDeclaredSize));
    EXPECT_EQ(c.value, std::wstring(buffer));
}

const std::wstring k300(300, L'x');

INSTANTIATE_TEST_SUITE_P(
    Lookup, SwitchValueTest,
    ::testing::Values(
        LookupCase{"plain", L"\"C:\\app\\u.exe\" /v:1.0.0.5 /os:win10", L"/v:", 1, L"1.0.0.5"},
        LookupCase{"at_end", L"u.exe /os:win10 /v:1.0.0.5", L"/v:", 1, L"1.0.0.5"},
        LookupCase{"absent", L"u.exe /os:win10", L"/v:", 0, L""},
        LookupCase{"space_after_colon", L"u.exe /w: 123", L"/w:", 1, L""},
        LookupCase{"empty_at_end", L"u.exe /u:", L"/u:", 1, L""},
        LookupCase{"quoted_with_spaces", L"u.exe /installpath:\"D:\\My Apps\\Browser\" /v:1", L"/installpath:", 1,
                   L"D:\\My Apps\\Browser"},
        LookupCase{"unclosed_quote", L"u.exe /installpath:\"D:\\My Apps", L"/installpath:", 1, L"D:\\My"},
        LookupCase{"tab_does_not_end", L"u.exe /v:1.0\t2.0 x", L"/v:", 1, L"1.0\t2.0"},
        LookupCase{"long_value_cut_to_258", L"u.exe /v:" + k300, L"/v:", 1, std::wstring(258, L'x')},
        LookupCase{"case_sensitive", L"u.exe /U:C:\\dump.dmp", L"/u:", 0, L""},
        LookupCase{"inside_other_value", L"u.exe /os:a/v:9.9 /v:1.0", L"/v:", 1, L"9.9"},
        LookupCase{"inside_program_path", L"\"C:\\x/v:7\\u.exe\" /v:1.0", L"/v:", 1, L"7\\u.exe\""},
        LookupCase{"prefix_of_longer_word", L"u.exe --velmarupdate-logging", L"--velmarupdate-log", 1, L"ging"},
        LookupCase{"first_occurrence_wins", L"u.exe /v:1.0.0.1 /v:2.0.0.0", L"/v:", 1, L"1.0.0.1"}),
    [](const ::testing::TestParamInfo<LookupCase>& info) { return std::string(info.param.label); });

TEST(SwitchValue, AbsentSwitchLeavesBufferUntouched)
{
    wchar_t buffer[8] = {L'k', L'e', L'e', L'p', 0, 0, 0, 0};
    EXPECT_EQ(0, GetSwitchValue(L"u.exe /v:1", L"/os:", buffer, 7));
    EXPECT_EQ(std::wstring(L"keep"), buffer);
}

TEST(SwitchValue, WritesNoTerminatorOfItsOwn)
{
    wchar_t buffer[8] = {L'#', L'#', L'#', L'#', L'#', L'#', L'#', 0};
    EXPECT_EQ(1, GetSwitchValue(L"u.exe /v:ab", L"/v:", buffer, 7));
    EXPECT_EQ(std::wstring(L"ab#####"), buffer);
    // At most size - 1 characters are copied.
    wchar_t small[8] = {L'#', L'#', L'#', L'#', L'#', L'#', L'#', 0};
    EXPECT_EQ(1, GetSwitchValue(L"u.exe /v:abcdefghij", L"/v:", small, 4));
    EXPECT_EQ(std::wstring(L"abc####"), small);
}

struct NumberCase {
    const wchar_t* commandLine;
    std::int32_t expected;
};

TEST(SwitchNumber, ParsesLikeWcstolAndSaturates)
{
    const NumberCase cases[] = {
        {L"u.exe /j:abc", 0},
        {L"u.exe /j:-5", -5},
        {L"u.exe /j:12abc", 12},
        {L"u.exe /j:+42", 42},
        {L"u.exe /j:-1", -1},
        {L"u.exe /j:2147483647", 2147483647},
        {L"u.exe /j:2147483648", 2147483647},
        {L"u.exe /j:99999999999999999999999", 2147483647},
        {L"u.exe /j:-2147483649", -2147483647 - 1},
        {L"u.exe /j:\"\t 17\"", 17},
        {L"u.exe /j: 17", 0},
        {L"u.exe", 0},
    };
    for (const NumberCase& c : cases) {
        EXPECT_EQ(c.expected, GetSwitchNumber(c.commandLine, L"/j:")) << c.commandLine;
    }
}

}  // namespace

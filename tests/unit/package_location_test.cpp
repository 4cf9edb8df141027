#include "update/package/package_location.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(PackageLocation, FileNameIsEverythingAfterTheLastSlash)
{
    std::wstring name;
    EXPECT_FALSE(FileNameFromUrl(L"0", name));
    EXPECT_FALSE(FileNameFromUrl(L"", name));
    ASSERT_TRUE(FileNameFromUrl(L"http://h/update/1.0-2.0/velmar.diff", name));
    EXPECT_EQ(L"velmar.diff", name);
    ASSERT_TRUE(FileNameFromUrl(L"http://h/dir/", name));
    EXPECT_EQ(L"", name);
    ASSERT_TRUE(FileNameFromUrl(L"http://h/a\\..\\evil.exe", name));
    EXPECT_EQ(L"a\\..\\evil.exe", name);
}

TEST(PackageLocation, OnlyPlainNamesPass)
{
    const struct {
        std::wstring name;
        bool plain;
    } cases[] = {
        {L"velmar.diff", true},
        {L"VelmarSetup 2.0.exe", true},
        {L"\u4e2d\u6587.exe", true},
        {L"", false},
        {L".", false},
        {L"..", false},
        {L"..\\evil.exe", false},
        {L"a:b", false},
        {L"a*b", false},
        {L"a?b", false},
        {L"a\"b", false},
        {L"a<b", false},
        {L"a>b", false},
        {L"a|b", false},
        {L"a\tb", false},
        {std::wstring(L"a") + wchar_t(0x1f), false},
        {L"NUL", false},       {L"nul.exe", false},     {L"COM1", false},  {L"lpt9.txt.exe", false},
        {L"Aux .diff", false}, {L"CONOUT$", false},    {L"COM0", true},   {L"console.exe", true},
        {L"nul_setup.exe", true}, {L"COM\u00b9.exe", false}, {L"lpt\u00b3", false}, {L"COM\u2074", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.plain, IsPlainFileName(c.name)) << c.name;
    }
}

TEST(PackageLocation, PathMustFitItsBuffer)
{
    const std::wstring folder = L"C:\\T\\123";
    EXPECT_EQ(L"C:\\T\\123\\a.exe", JoinPackagePath(folder, L"a.exe", 260));
    const std::wstring fits(260 - 1 - folder.size() - 1, L'n');
    EXPECT_EQ(259u, JoinPackagePath(folder, fits, 260).size());
    EXPECT_EQ(L"", JoinPackagePath(folder, fits + L"n", 260));
}

}  // namespace

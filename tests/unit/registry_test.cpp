#include "base/registry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr wchar_t kKey[] = L"Software\\Orvanta Velmar\\VelmarRegistryTest";

std::vector<unsigned char> Bytes(const std::wstring& text)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    return std::vector<unsigned char>(bytes, bytes + text.size() * sizeof(wchar_t));
}

// What each typed view makes of the value, read with at most 64 bytes.
std::wstring Views(const wchar_t* name)
{
    const std::optional<RegistryValue> value = ReadRegistryValue(HKEY_CURRENT_USER, kKey, name, 64);
    std::wstring views;
    if (const auto number = DwordOf(value)) views += L"dword " + std::to_wstring(*number);
    if (const auto number = QwordOf(value)) views += L"qword " + std::to_wstring(*number);
    if (const auto text = TextOf(value)) views += L"text " + *text;
    if (BytesOf(value, 4)) views += L"4 bytes";
    if (const auto list = TextListOf(value)) {
        views += L"list";
        for (const std::wstring& text : *list) views += L" " + text;
    }
    return views.empty() ? L"none" : views;
}

// The exact type and size decide, whatever a call's status says (Wine's SHGetValueW "succeeds" on "9" into a DWORD).
TEST(Registry, EachValueCountsOnlyWithItsTypeAndSize)
{
    const struct { DWORD type; std::vector<unsigned char> bytes; const wchar_t* views; } cases[] = {
        {REG_DWORD, {0x39, 0, 0, 0}, L"dword 57"},       {REG_DWORD, {0x39, 0}, L"none"},
        {REG_SZ, {0x39, 0, 0, 0}, L"text 9"},            {REG_BINARY, {0x39, 0, 0, 0}, L"4 bytes"},
        {REG_DWORD_BIG_ENDIAN, {0, 0, 0, 0x39}, L"none"}, {REG_QWORD, {1, 0, 0, 0, 1, 0, 0, 0}, L"qword 4294967297"},
        {REG_QWORD, {0x39, 0, 0, 0}, L"none"},           {REG_SZ, Bytes(std::wstring(L"1.2\0junk", 8)), L"text 1.2"},
        {REG_SZ, {'a', 0, 'b', 0, 'c'}, L"text ab"},     {REG_EXPAND_SZ, Bytes(L"a"), L"none"},
        {REG_MULTI_SZ, Bytes(std::wstring(L"a\0bc\0\0", 6)), L"list a bc"},
        {REG_MULTI_SZ, Bytes(std::wstring(L"a\0bc", 4)), L"list a bc"},
        {REG_MULTI_SZ, Bytes(std::wstring(L"a\0\0b\0", 5)), L"list a"},
        {REG_SZ, Bytes(std::wstring(33, L'1')), L"none"},  // 66 bytes: over what the reader takes
        {REG_BINARY, {0x39, 0, 0}, L"none"},
    };
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kKey);
    EXPECT_EQ(L"none", Views(L"absent"));
    for (const auto& c : cases) {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                                   &key, nullptr));
        ::RegSetValueExW(key, L"v", 0, c.type, c.bytes.data(), static_cast<DWORD>(c.bytes.size()));
        ::RegCloseKey(key);
        EXPECT_EQ(c.views, Views(L"v")) << RegistryTypeName(c.type) << " of " << c.bytes.size() << " bytes";
    }
    // What the unit writes it reads back; a value deleted twice is gone without an error.
    EXPECT_EQ(0u, WriteTextList(HKEY_CURRENT_USER, kKey, L"v", {L"C:\\t\\1|2:3", L"x"}));
    EXPECT_EQ(L"list C:\\t\\1|2:3 x", Views(L"v"));
    EXPECT_EQ(0u, WriteQword(HKEY_CURRENT_USER, kKey, L"v", 7));
    EXPECT_EQ(L"qword 7", Views(L"v"));
    EXPECT_EQ(0u, DeleteRegistryValue(HKEY_CURRENT_USER, kKey, L"v"));
    EXPECT_EQ(0u, DeleteRegistryValue(HKEY_CURRENT_USER, kKey, L"v"));
    EXPECT_EQ(L"none", Views(L"v"));
    ::RegDeleteTreeW(HKEY_CURRENT_USER, kKey);
}

}  // namespace

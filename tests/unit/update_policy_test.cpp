#include "update/policy/policy_registry.h"
#include "update/policy/update_policy.h"

#include <shlwapi.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using Values = std::map<std::wstring, PolicyValue>;
using Log = std::vector<std::wstring>;

PolicyValue Dword(std::uint32_t n)
{
    return {REG_DWORD, {static_cast<unsigned char>(n), static_cast<unsigned char>(n >> 8),
                        static_cast<unsigned char>(n >> 16), static_cast<unsigned char>(n >> 24)}};
}
// The text's UTF-16 bytes with its terminator.
PolicyValue Sz(const std::wstring& text, DWORD type = REG_SZ)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.c_str());
    return {type, std::vector<unsigned char>(bytes, bytes + (text.size() + 1) * sizeof(wchar_t))};
}
Values Quiet(PolicyValue hour, PolicyValue minute, PolicyValue duration)
{
    return {{L"UpdatesSuppressedStartHour", hour}, {L"UpdatesSuppressedStartMin", minute},
            {L"UpdatesSuppressedDurationMin", duration}};
}

std::wstring Summary(const UpdatePolicy& p)
{
    const auto w = p.quietWindow.value_or(QuietWindow{});
    return (p.updatesOff ? L"off " : L"") + (p.targetVersionPrefix ? L"prefix=" + p.targetVersionPrefix->Shown() + L" " : L"") +
           (p.checkPeriodMinutes ? L"period=" + std::to_wstring(*p.checkPeriodMinutes) + L" " : L"") +
           (p.quietWindow ? L"quiet=" + std::to_wstring(w.startMinute) + L"+" + std::to_wstring(w.durationMinutes) +
                                L" " : L"") + (p.updateUrl ? L"url=" + *p.updateUrl : L"");
}

UpdatePolicy Interpret(const Values& values)
{
    return InterpretPolicies([&values](const wchar_t* name) -> std::optional<PolicyValue> {
        const auto found = values.find(name);
        return found == values.end() ? std::nullopt : std::optional<PolicyValue>(found->second);
    });
}

TEST(UpdatePolicy, VersionPrefixTable)
{
    enum class M { Inside, Outside, Malformed };
    const struct { const wchar_t* prefix; const wchar_t* version; M match; } cases[] = {
        {L"1", L"1.4.0.2", M::Inside},     {L"1.0", L"1.0.0.9", M::Inside},   {L"1.0.", L"1.0.0.9", M::Inside},
        {L"01.0", L"1.0.0.9", M::Inside},  {L"1.2.3", L"1.2.3.7", M::Inside}, {L"1.0.0.9.", L"1.0.0.9", M::Inside},
        {L"2147483647", L"2147483647.0.0.1", M::Inside}, {L"1.2.3", L"1.2.34.0", M::Outside},
        {L"1.0", L"1.1.0.0", M::Outside},  {L"1", L"10.0.0.0", M::Outside},   {L"1.0", L"1", M::Outside},
    };
    for (const auto& c : cases) {
        VersionNumbers version;
        SplitVersion(c.version, L'.', version);
        const auto prefix = ParseVersionPrefix(c.prefix);
        EXPECT_EQ(c.match, !prefix ? M::Malformed : StartsWithPrefix(version, *prefix) ? M::Inside : M::Outside)
            << testing::PrintToString(std::wstring(c.prefix));
    }
    for (const wchar_t* bad : {L"", L".", L"a", L"1.x", L" 1", L"1 ", L"+1", L"-1", L"1.0.0.9.1", L"1..2", L".1",
                               L"1..", L"2147483648", L"99999999999999999999", L"1,0", L"\xFF11"})
        EXPECT_FALSE(ParseVersionPrefix(bad)) << testing::PrintToString(std::wstring(bad));
}

TEST(UpdatePolicy, QuietWindowAndPeriodTables)
{
    const struct { QuietWindow window; std::vector<int> inside, outside; } windows[] = {
        {{22 * 60 + 30, 120}, {1350, 1439, 0, 29}, {1349, 30, 600}},  // 22:30 to 00:30, across midnight
        {{0, 1}, {0}, {1, 1439}}, {{1439, 960}, {1439, 0, 958}, {959, 1438}}, {{600, 960}, {600, 0, 119}, {599, 120}},
    };
    for (const auto& w : windows) {
        SCOPED_TRACE(testing::Message() << w.window.startMinute << "+" << w.window.durationMinutes);
        for (int m : w.inside) EXPECT_TRUE(IsInQuietWindow(w.window, m)) << m;
        for (int m : w.outside) EXPECT_FALSE(IsInQuietWindow(w.window, m)) << m;
    }
    const std::pair<std::uint32_t, std::uint32_t> periods[] = {
        {0, 0}, {1, 60}, {59, 60}, {60, 60}, {61, 61}, {43200, 43200}, {43201, 43200}, {0xFFFFFFFFu, 43200}};
    for (const auto& p : periods) EXPECT_EQ(p.second, ClampCheckPeriodMinutes(p.first)) << p.first;
}

TEST(UpdatePolicy, InterpretTable)
{
    const std::wstring longUrl = L"https://m/" + std::wstring(2072, L'a') + L"/";  // 2083 characters
    const struct { Values values; std::wstring summary; Log log; } cases[] = {
        // All in force, logged in one fixed order.
        {{{L"UpdateUrl", Sz(L"https://mirror.corp/velmar/update/")}, {L"UpdatesSuppressedDurationMin", Dword(120)},
          {L"UpdatesSuppressedStartMin", Dword(30)}, {L"UpdatesSuppressedStartHour", Dword(22)},
          {L"CheckPeriodMinutes", Dword(30)}, {L"TargetVersionPrefix", Sz(L"1.0")}, {L"UpdateDefault", Dword(0)}},
         L"off prefix=1.0 period=60 quiet=1350+120 url=https://mirror.corp/velmar/update/",
         {L" Policy:UpdateDefault=0", L" Policy:TargetVersionPrefix=1.0", L" Policy:CheckPeriodMinutes=30, taken as 60",
          L" Policy:UpdatesSuppressed=22:30 for 120 min", L" Policy:UpdateUrl=https://mirror.corp/velmar/update/"}},
        {{{L"UpdateDefault", Dword(1)}}, L"", {L" Policy:UpdateDefault=1"}},
        {{{L"UpdateDefault", Dword(2)}}, L"", {L" PolicyIgnored:UpdateDefault (out of range)"}},
        {{{L"UpdateDefault", {REG_DWORD, {0, 0}}}}, L"", {L" PolicyIgnored:UpdateDefault (out of range)"}},
        {{{L"UpdateDefault", {REG_QWORD, std::vector<unsigned char>(8)}}}, L"",
         {L" PolicyIgnored:UpdateDefault (REG_QWORD, expected REG_DWORD)"}},
        {{{L"UpdateDefault", {42, {}}}}, L"", {L" PolicyIgnored:UpdateDefault (type 42, expected REG_DWORD)"}},
        {{{L"CheckPeriodMinutes", Dword(0)}}, L"period=0 ", {L" Policy:CheckPeriodMinutes=0"}},
        {{{L"CheckPeriodMinutes", Dword(120)}}, L"period=120 ", {L" Policy:CheckPeriodMinutes=120"}},
        {{{L"CheckPeriodMinutes", Sz(L"")}}, L"", {L" PolicyIgnored:CheckPeriodMinutes (REG_SZ, expected REG_DWORD)"}},
        // A malformed prefix stays in force, and so does one of another type or too large to read.
        {{{L"TargetVersionPrefix", Sz(L"1..2")}}, L"prefix=1..2 ",
         {L" Policy:TargetVersionPrefix=1..2 is malformed: no release matches it"}},
        {{{L"TargetVersionPrefix", {REG_SZ, {}}}}, L"prefix= ",
         {L" Policy:TargetVersionPrefix= is malformed: no release matches it"}},
        {{{L"TargetVersionPrefix", Sz(std::wstring(L"1.2\0junk", 8))}}, L"prefix=1.2 ",
         {L" Policy:TargetVersionPrefix=1.2"}},
        {{{L"TargetVersionPrefix", Sz(L"1.0", REG_EXPAND_SZ)}}, L"prefix=(REG_EXPAND_SZ, expected REG_SZ) ",
         {L" Policy:TargetVersionPrefix=(REG_EXPAND_SZ, expected REG_SZ) is malformed: no release matches it"}},
        {{{L"TargetVersionPrefix", {REG_SZ, {}, true}}}, L"prefix=(over 8 KiB) ",
         {L" Policy:TargetVersionPrefix=(over 8 KiB) is malformed: no release matches it"}},
        // The quiet hours: all three or none, the first wrong one named.
        {Quiet(Dword(7), Dword(5), Dword(960)), L"quiet=425+960 ", {L" Policy:UpdatesSuppressed=07:05 for 960 min"}},
        {{{L"UpdatesSuppressedStartHour", Dword(22)}, {L"UpdatesSuppressedStartMin", Dword(30)}}, L"",
         {L" PolicyIgnored:UpdatesSuppressed (UpdatesSuppressedDurationMin missing)"}},
        {Quiet(Dword(24), Dword(0), Dword(0)), L"",
         {L" PolicyIgnored:UpdatesSuppressed (UpdatesSuppressedStartHour out of range)"}},
        {Quiet(Dword(1), Sz(L"0"), Dword(5)), L"",
         {L" PolicyIgnored:UpdatesSuppressed (UpdatesSuppressedStartMin REG_SZ, expected REG_DWORD)"}},
        {Quiet(Dword(1), Dword(59), Dword(961)), L"",
         {L" PolicyIgnored:UpdatesSuppressed (UpdatesSuppressedDurationMin out of range)"}},
        {{{L"UpdateUrl", Sz(L"HTTPS://Mirror.Corp/u/")}}, L"url=HTTPS://Mirror.Corp/u/",
         {L" Policy:UpdateUrl=HTTPS://Mirror.Corp/u/"}},
        {{{L"UpdateUrl", Sz(longUrl)}}, L"url=" + longUrl, {L" Policy:UpdateUrl=" + longUrl}},
    };
    for (const auto& c : cases) {
        const UpdatePolicy policy = Interpret(c.values);
        EXPECT_EQ(c.summary, Summary(policy));
        EXPECT_EQ(c.log, policy.logEntries) << testing::PrintToString(c.summary);
    }
}

TEST(UpdatePolicy, UpdateUrlTable)
{
    const std::pair<std::wstring, const wchar_t*> cases[] = {  // a word of the refusal; empty: taken
        {L"https://m:8443/u/", L""}, {L"http://xn--bcher-kva.example/u/", L""}, {L"https://m/u", L"end in"},
        {L"https://m/" + std::wstring(2073, L'a') + L"/", L"2083"}, {L"", L"end in"}, {L"ftp://m/u/", L"http or"},
        {L"http:/m/", L"http or"}, {L"http://", L"no host"}, {L"http://:8080/mirror/", L"no host"},
        {L"http://@/mirror/", L"no host"}, {L"https://ann@m/u/", L"user"}, {L"https://ann:secret@m/u/", L"user"},
        {L"https://:secret@m/u/", L"user"}, {L"https://m/u/?a/", L"query"}, {L"https://m/u#f/", L"fragment"},
        {L"https://m:99999/u/", L"port"}, {L"https://m:0/u/", L"port"}, {L"https://m:/u/", L"port"},
        {L"https://m /u/", L"blank"}, {L"https://m/\t/", L"blank"}, {L"https://m\\u/", L"blank"},
        {L"https://m/\x7F/", L"blank"}, {L"https://m/\x85/", L"blank"}, {L"https://m/\xA0/", L"blank"},
        {L"https://m/\x3000/", L"blank"}, {L"https://m/\x2028/", L"blank"}, {L"https://\xFC.example/", L"blank"},
        {L"http://127.0.0.1:18741:80/update/", L"host"}, {L"http://a_b/u/", L"host"}, {L"http://[::1/", L"IPv6"},
        {L"http://[::1]:8080/u/", L"IPv6"}, {L"http://127.0.0.1:18741/u/", L""},
    };
    for (const auto& c : cases) {
        const UpdatePolicy policy = Interpret({{L"UpdateUrl", Sz(c.first)}});
        const std::wstring entry = policy.logEntries.size() == 1 ? policy.logEntries[0] : L"not one entry";
        EXPECT_TRUE(entry.rfind(*c.second ? L" PolicyIgnored:UpdateUrl (" : L" Policy:UpdateUrl=" + c.first, 0) == 0 &&
                    entry.find(c.second) != std::wstring::npos && entry.find(L"secret") == std::wstring::npos &&
                    !*c.second == policy.updateUrl.has_value()) << testing::PrintToString(c.first) << entry;
    }
}

// The reader on the prefix's real registry: the machine key in the 64-bit view, never the user's.
TEST(UpdatePolicy, ReadsTheMachineKeyOnly)
{
    static const wchar_t kKey[] = L"SOFTWARE\\Policies\\Orvanta\\Velmar\\Update";
    const auto set = [](HKEY root, const wchar_t* name, const PolicyValue& v) {
        EXPECT_EQ(0u, ::SHSetValueW(root, kKey, name, v.type, v.data.data(), static_cast<DWORD>(v.data.size())));
    };
    ::SHDeleteKeyW(HKEY_LOCAL_MACHINE, kKey);
    EXPECT_EQ(Log{}, ReadMachinePolicies().logEntries);
    set(HKEY_CURRENT_USER, L"UpdateDefault", Dword(0));
    set(HKEY_LOCAL_MACHINE, L"CheckPeriodMinutes", Dword(90));
    set(HKEY_LOCAL_MACHINE, L"TargetVersionPrefix", {REG_SZ, {'1', 0, '.', 0, '0', 0, '7'}});
    set(HKEY_LOCAL_MACHINE, L"UpdateUrl", {REG_SZ, std::vector<unsigned char>(kMaxPolicyDataBytes + 2, 'a')});
    const UpdatePolicy policy = ReadMachinePolicies();
    ::SHDeleteKeyW(HKEY_LOCAL_MACHINE, kKey);
    ::SHDeleteKeyW(HKEY_CURRENT_USER, kKey);
    EXPECT_EQ(L"prefix=1.0 period=90 ", Summary(policy));
    EXPECT_EQ(L" PolicyIgnored:UpdateUrl (out of range)", policy.logEntries.back());
}

}  // namespace

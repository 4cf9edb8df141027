#include "crashreport/crash_policy.h"
#include "crashreport/report_record.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr std::int64_t kNow = 1000000000;  // 2001-09-09T01:46:40Z
constexpr std::int64_t kDay = 86400;
const OfferedDump kDump{L"C:\\Crash\\1.dmp", {10, 5, 7, 9}};

RegistryValue List(const std::vector<std::wstring>& texts, DWORD type = REG_MULTI_SZ)
{
    std::wstring all;
    for (const std::wstring& text : texts) all += text + L'\0';
    all += L'\0';
    const auto* bytes = reinterpret_cast<const unsigned char*>(all.data());
    return {type, std::vector<unsigned char>(bytes, bytes + all.size() * sizeof(wchar_t))};
}
RegistryValue Qword(std::uint64_t n, DWORD type = REG_QWORD)
{
    RegistryValue value{type, std::vector<unsigned char>(8)};
    for (int i = 0; i < 8; ++i) value.data[i] = static_cast<unsigned char>(n >> (8 * i));
    return value;
}
std::vector<std::wstring> Times(std::initializer_list<std::int64_t> ago)
{
    std::vector<std::wstring> texts;
    for (const std::int64_t seconds : ago) texts.push_back(std::to_wstring(kNow - seconds));
    return texts;
}
// Sixteen other dumps, then `last`.
std::vector<std::wstring> Seventeen(const std::wstring& first, const std::wstring& last)
{
    std::vector<std::wstring> texts{first};
    for (int i = 0; i < 15; ++i) texts.push_back(L"C:\\Crash\\other" + std::to_wstring(i) + L".dmp|1|1|1:1");
    texts.push_back(last);
    return texts;
}

using Value = std::optional<RegistryValue>;
RecordValues V(Value starts, Value wait = {}, Value sent = {}, Value refused = {}) { return {starts, wait, sent, refused}; }
struct Answer { bool accepted; DWORD status; const wchar_t* retryAfter; };

// The record is read at kNow, the answer (if any) noted, then the same dump offered again at kNow.
TEST(ReportRecord, WindowWrongTypesFutureTimesTheServersWaitAndSixteenKept)
{
    const std::wstring a = DumpEntry(kDump);
    const std::wstring changed = L"C:\\Crash\\1.dmp|10|6|7:9", upper = L"C:\\CRASH\\1.DMP|10|5|7:9";
    const struct { const char* label; RecordValues values; std::optional<Answer> answer; const wchar_t* expected; } cases[] = {
        {"empty", {}, {}, L"send starts=1 wait=0 sent=0"},
        {"limit", V(List(Times({10, 20, kDay - 1}))), {}, L"limit starts=3 wait=0 sent=0"},
        {"window", V(List(Times({10, 20, kDay}))), {}, L"send starts=3 wait=0 sent=0"},
        {"future_start", V(List(Times({10, 20, -5}))), {}, L"send starts=1 wait=0 sent=0"},
        {"malformed_start", V(List({L"999999999", L"99999999x", L"999999998"})), {}, L"send starts=1 wait=0 sent=0"},
        {"starts_of_wrong_type", V(List(Times({1, 2, 3}), REG_SZ)), {}, L"send starts=1 wait=0 sent=0"},
        {"waiting", V({}, Qword(kNow + 100)), {}, L"wait starts=0 wait=100 sent=0"},
        {"wait_gone_by", V({}, Qword(kNow)), {}, L"send starts=1 wait=0 sent=0"},
        {"wait_over_the_cap", V({}, Qword(kNow + 7 * kDay + 1)), {}, L"send starts=1 wait=0 sent=0"},
        {"wait_of_wrong_type", V({}, Qword(kNow + 100, REG_BINARY)), {}, L"send starts=1 wait=0 sent=0"},
        // Accepted before: exit 1 without a connection, before the wait and the limit.
        {"sent_before", V(List(Times({1, 2, 3})), Qword(kNow + 9), List({upper})), {}, L"sent starts=3 wait=9 sent=1"},
        {"changed_since", V({}, {}, List({changed})), {}, L"send starts=1 wait=0 sent=1"},
        {"refused_before", V({}, {}, {}, List({a})), {}, L"refused starts=0 wait=0 sent=0"},
        {"sent_list_of_wrong_type", V({}, {}, List({a}, REG_SZ)), {}, L"send starts=1 wait=0 sent=0"},
        {"oldest_of_seventeen_dropped", V({}, {}, List(Seventeen(a, L"x"))), {}, L"send starts=1 wait=0 sent=16"},
        {"newest_of_seventeen_kept", V({}, {}, List(Seventeen(L"x", a))), {}, L"sent starts=0 wait=0 sent=16"},
        {"accepted", {}, Answer{true, 200, L""}, L"sent starts=0 wait=0 sent=1"},
        {"accepted_onto_sixteen", V({}, {}, List(Seventeen(L"x", L"y"))), Answer{true, 200, L""},
         L"sent starts=0 wait=0 sent=16"},
        {"413", {}, Answer{false, 413, L""}, L"refused starts=0 wait=0 sent=0"},
        {"429_seconds", {}, Answer{false, 429, L"3600"}, L"wait starts=0 wait=3600 sent=0"},
        {"503_http_date", {}, Answer{false, 503, L"Sun, 09 Sep 2001 01:48:40 GMT"}, L"wait starts=0 wait=120 sent=0"},
        {"429_unreadable", {}, Answer{false, 429, L"soon"}, L"wait starts=0 wait=3600 sent=0"},
        {"429_capped", {}, Answer{false, 429, L"99999999999"}, L"wait starts=0 wait=604800 sent=0"},
        {"429_shorter_than_recorded", V({}, Qword(kNow + 500)), Answer{false, 429, L"60"}, L"wait starts=0 wait=500 sent=0"},
        {"500_leaves_nothing", {}, Answer{false, 500, L"60"}, L"send starts=1 wait=0 sent=0"},
    };
    const wchar_t* const kVerdicts[] = {L"send", L"sent", L"refused", L"wait", L"limit"};
    for (const auto& c : cases) {
        ReportRecord record = ReadRecord(c.values, kNow);
        if (c.answer) NoteAnswer(record, kDump, c.answer->accepted, c.answer->status, c.answer->retryAfter, kNow);
        const ReportVerdict verdict = AdmitReport(record, kDump, kNow, 3);
        EXPECT_EQ(c.expected, std::wstring(kVerdicts[static_cast<int>(verdict)]) + L" starts=" +
                                  std::to_wstring(record.starts.size()) + L" wait=" +
                                  std::to_wstring(record.waitUntil ? record.waitUntil - kNow : 0) + L" sent=" +
                                  std::to_wstring(record.sent.size())) << c.label;
    }
}

TEST(ReportRecord, ThePolicyTurnsReportsOffOnlyWithZero)
{
    const struct { std::optional<RegistryValue> enabled; bool off; const wchar_t* log; } cases[] = {
        {{}, false, nullptr},
        {RegistryValue{REG_DWORD, {0, 0, 0, 0}}, true, L" Policy:crash reports are off"},
        {RegistryValue{REG_DWORD, {1, 0, 0, 0}}, false, L" Policy:crash reports are on"},
        {RegistryValue{REG_DWORD, {2, 0, 0, 0}}, false, L" PolicyIgnored:CrashReporting\\Enabled (out of range)"},
        {RegistryValue{REG_DWORD, {0, 0}}, false, L" PolicyIgnored:CrashReporting\\Enabled (out of range)"},
        {List({L"0"}, REG_SZ), false, L" PolicyIgnored:CrashReporting\\Enabled (REG_SZ, expected REG_DWORD)"},
    };
    for (const auto& c : cases) {
        const CrashReportPolicy policy = InterpretCrashReportPolicy([&c](const wchar_t*) { return c.enabled; });
        EXPECT_EQ(c.off, policy.reportsOff);
        EXPECT_EQ(c.log ? std::vector<std::wstring>{c.log} : std::vector<std::wstring>(), policy.logEntries);
    }
}

}  // namespace

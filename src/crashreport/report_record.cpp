#include "crashreport/report_record.h"

#include "base/decimal_text.h"
#include "base/utc_time.h"
#include "net/retry_rules.h"

#include <algorithm>

namespace {

constexpr std::int64_t kLatestTime = 253402300799;  // the end of 9999

std::vector<std::int64_t> StartsFrom(const std::optional<RegistryValue>& value, std::int64_t now)
{
    std::vector<std::int64_t> starts;
    for (const std::wstring& text : TextListOf(value).value_or(std::vector<std::wstring>())) {
        const std::optional<std::uint64_t> start = ParsePlainDecimal(text, kLatestTime);
        if (!start || static_cast<std::int64_t>(*start) > now) {
            return {};  // not ours, or from a clock that has been set back
        }
        if (static_cast<std::int64_t>(*start) > now - kReportWindowSeconds) {
            starts.push_back(static_cast<std::int64_t>(*start));
        }
    }
    return starts;
}

// The newest kDumpsKept: the record never grows.
void TrimToKept(std::vector<std::wstring>& dumps)
{
    if (dumps.size() > kDumpsKept) {
        dumps.erase(dumps.begin(), dumps.end() - kDumpsKept);
    }
}

std::vector<std::wstring> DumpsFrom(const std::optional<RegistryValue>& value)
{
    std::vector<std::wstring> dumps = TextListOf(value).value_or(std::vector<std::wstring>());
    TrimToKept(dumps);
    return dumps;
}

// File paths are compared as Windows compares them: without regard to case.
bool Listed(const std::vector<std::wstring>& dumps, const std::wstring& entry)
{
    return std::any_of(dumps.begin(), dumps.end(), [&entry](const std::wstring& listed) {
        return ::CompareStringOrdinal(listed.c_str(), static_cast<int>(listed.size()), entry.c_str(),
                                      static_cast<int>(entry.size()), TRUE) == CSTR_EQUAL;
    });
}

void Keep(std::vector<std::wstring>& dumps, const std::wstring& entry)
{
    if (!Listed(dumps, entry)) {
        dumps.push_back(entry);
    }
    TrimToKept(dumps);
}

}  // namespace

std::wstring DumpEntry(const OfferedDump& dump)
{
    return dump.path + L"|" + std::to_wstring(dump.file.size) + L"|" + std::to_wstring(dump.file.lastWrite) + L"|" +
           std::to_wstring(dump.file.id.volume) + L":" + std::to_wstring(dump.file.id.index);
}

ReportRecord ReadRecord(const RecordValues& values, std::int64_t now)
{
    ReportRecord record;
    record.starts = StartsFrom(values.starts, now);
    const std::uint64_t waitUntil = QwordOf(values.waitUntil).value_or(0);
    if (waitUntil > static_cast<std::uint64_t>(now) &&
        waitUntil <= static_cast<std::uint64_t>(now + kLongestServerWaitSeconds)) {
        record.waitUntil = static_cast<std::int64_t>(waitUntil);
    }
    record.sent = DumpsFrom(values.sent);
    record.refused = DumpsFrom(values.refused);
    return record;
}

ReportVerdict AdmitReport(ReportRecord& record, const OfferedDump& dump, std::int64_t now, std::size_t perDay)
{
    const std::wstring entry = DumpEntry(dump);
    if (Listed(record.sent, entry)) {
        return ReportVerdict::SentBefore;
    }
    if (Listed(record.refused, entry)) {
        return ReportVerdict::RefusedBefore;
    }
    if (record.waitUntil > now) {
        return ReportVerdict::Wait;
    }
    if (record.starts.size() >= perDay) {
        return ReportVerdict::OverLimit;
    }
    record.starts.push_back(now);
    return ReportVerdict::Send;
}

bool AnswerIsKept(bool accepted, DWORD status) { return accepted || status == 413 || status == 429 || status == 503; }

unsigned NoteAnswer(ReportRecord& record, const OfferedDump& dump, bool accepted, DWORD status,
                    const std::wstring& retryAfter, std::int64_t now)
{
    if (accepted) {
        Keep(record.sent, DumpEntry(dump));
        return kRecordSent;
    }
    if (status == 413) {
        Keep(record.refused, DumpEntry(dump));
        return kRecordRefused;
    }
    if (!AnswerIsKept(accepted, status)) {
        return 0;
    }
    const std::int64_t asked = ParseRetryAfter(retryAfter, now).value_or(kUnsaidServerWaitSeconds);
    record.waitUntil = std::max(record.waitUntil, now + std::min(asked, kLongestServerWaitSeconds));
    return kRecordWait;
}

std::wstring VerdictLogText(ReportVerdict verdict, const ReportRecord& record, const OfferedDump& dump,
                            std::size_t perDay)
{
    switch (verdict) {
    case ReportVerdict::SentBefore:
        return L" CrashReportSent:" + dump.path + L" was accepted before, not sent again";
    case ReportVerdict::RefusedBefore:
        return L" CrashReportRefused:" + dump.path + L" was refused before (HTTP status 413), not sent again";
    case ReportVerdict::Wait:
        return L" CrashReportWait:" + UtcText(record.waitUntil);
    case ReportVerdict::OverLimit: {
        const std::int64_t oldest = *std::min_element(record.starts.begin(), record.starts.end());
        return L" CrashReportLimit:" + std::to_wstring(record.starts.size()) + L" reports started in the last 24 h (at most " +
               std::to_wstring(perDay) + L"), the next may start at " + UtcText(oldest + kReportWindowSeconds);
    }
    case ReportVerdict::Send:
        break;
    }
    return std::wstring();
}

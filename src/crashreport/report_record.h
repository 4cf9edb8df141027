// The crash side's record, beside LastTimeCheck in HKCU: when reports started,
// until when the error-log server asked them to wait, and which dumps it
// accepted, or refused for good. Plain values in and out; the registry and the
// lock around it are report_store's.
#pragma once

#include "base/file_identity.h"
#include "base/registry.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

constexpr std::int64_t kReportWindowSeconds = 24 * 60 * 60;
constexpr std::size_t kDumpsKept = 16;
constexpr std::int64_t kLongestServerWaitSeconds = 7 * 24 * 60 * 60;
// A 429 or 503 without a Retry-After that can be read.
constexpr std::int64_t kUnsaidServerWaitSeconds = 60 * 60;

// One dump as offered: its path as given, and what the file was then.
struct OfferedDump {
    std::wstring path;
    FileIdentity file;
};
// "<path>|<size>|<last write>|<volume>:<index>", the numbers in decimal.
std::wstring DumpEntry(const OfferedDump& dump);

// The record's parts, one registry value each, so that only what changed is written.
enum RecordPart : unsigned { kRecordStarts = 1, kRecordWait = 2, kRecordSent = 4, kRecordRefused = 8 };

struct ReportRecord {
    std::vector<std::int64_t> starts;   // Unix seconds of the reports started within the window
    std::int64_t waitUntil = 0;         // Unix seconds; 0: no wait
    std::vector<std::wstring> sent;     // DumpEntry texts, oldest first, at most kDumpsKept
    std::vector<std::wstring> refused;  // the same, for dumps answered with 413
};

// The record's values as the registry holds them; nullopt: absent or unreadable.
struct RecordValues {
    std::optional<RegistryValue> starts;     // REG_MULTI_SZ of decimal Unix seconds
    std::optional<RegistryValue> waitUntil;  // REG_QWORD of Unix seconds
    std::optional<RegistryValue> sent;       // REG_MULTI_SZ of DumpEntry texts
    std::optional<RegistryValue> refused;    // the same
};

// The record as it stands at `now`. A value of the wrong type counts as empty,
// and so do starts with one that is not a plain number or lies in the future
// (a clock set back must not silence reports for as long), and a wait beyond
// the cap; starts older than the window are dropped, and of each dump list the
// last kDumpsKept are kept.
ReportRecord ReadRecord(const RecordValues& values, std::int64_t now);

enum class ReportVerdict { Send, SentBefore, RefusedBefore, Wait, OverLimit };

// Whether the dump goes out now, judged in this order: accepted before, refused
// before, the server's wait, at most perDay starts in the window. Send counts
// the report as started at `now` in the record.
ReportVerdict AdmitReport(ReportRecord& record, const OfferedDump& dump, std::int64_t now, std::size_t perDay);

// Whether an answer leaves anything in the record: an acceptance, 413, 429 or 503.
bool AnswerIsKept(bool accepted, DWORD status);
// What the answer to a report leaves in the record: an accepted dump joins
// `sent`, one answered with 413 `refused`; a 429 or 503 makes every report wait
// as its Retry-After (seconds or an HTTP date) says, an hour when it says
// nothing readable, at most seven days, and never less than a wait already
// recorded. Returns the part it changed, 0 for none.
unsigned NoteAnswer(ReportRecord& record, const OfferedDump& dump, bool accepted, DWORD status,
                const std::wstring& retryAfter, std::int64_t now);

// The log entry of a report that does not go out, e.g. " CrashReportWait:2025-06-01T13:00:00Z".
std::wstring VerdictLogText(ReportVerdict verdict, const ReportRecord& record, const OfferedDump& dump,
                            std::size_t perDay);

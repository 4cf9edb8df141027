#include "crashreport/crash_report.h"

#include "base/utc_time.h"
#include "build_settings.h"
#include "crashreport/report_store.h"
#include "log/update_log.h"
#include "net/http_upload.h"
#include "net/transfer_rules.h"

#include <ctime>

const wchar_t* const g_pszErrorLogUrl = VELMAR_ERROR_LOG_URL;

namespace {

constexpr std::size_t kReportsPerDay = VELMAR_CRASH_REPORTS_PER_DAY;

std::int64_t Now() { return static_cast<std::int64_t>(::_time64(nullptr)); }

std::wstring Busy()
{
    return L"the record of reports stayed locked for " + std::to_wstring(kRecordLockWaitMs / 1000) + L" s";
}

// Under the lock: whether the dump may go out, counted as started when it may.
// A record that cannot be locked or written stops the report: a guard that
// cannot count would let a crash loop upload without end.
ReportVerdict Admit(const OfferedDump& dump)
{
    const RecordLock lock;
    if (!lock.Held()) {
        g_updateLog.Stream() << L" CrashReportLimit:" << Busy() << L", not sent now";
        return ReportVerdict::OverLimit;
    }
    const std::int64_t now = Now();
    ReportRecord record = LoadRecord(now);
    const ReportVerdict verdict = AdmitReport(record, dump, now, kReportsPerDay);
    if (verdict != ReportVerdict::Send) {
        g_updateLog.Stream() << VerdictLogText(verdict, record, dump, kReportsPerDay);
        return verdict;
    }
    const WinStatus saved = SaveRecord(record, kRecordStarts);
    if (!saved) {
        g_updateLog.Stream() << L" CrashReportLimit:the start could not be recorded (Windows error " << saved.Error()
                             << L"), not sent now";
        return ReportVerdict::OverLimit;
    }
    return verdict;
}

// Under the lock again, after the answer: what it leaves for the next reports.
void Note(const OfferedDump& dump, bool accepted, int status, const std::wstring& retryAfter)
{
    if (!AnswerIsKept(accepted, static_cast<DWORD>(status))) {
        return;  // nothing to keep: the lock is not taken
    }
    const RecordLock lock;
    if (!lock.Held()) {
        g_updateLog.Stream() << L" CrashReportNotRecorded:" << Busy();
        return;
    }
    const std::int64_t now = Now();
    ReportRecord record = LoadRecord(now);
    const unsigned changed = NoteAnswer(record, dump, accepted, static_cast<DWORD>(status), retryAfter, now);
    const WinStatus saved = SaveRecord(record, changed);
    if (!saved) {
        g_updateLog.Stream() << L" CrashReportNotRecorded:Windows error " << saved.Error();
    }
    if (status == 413) {
        g_updateLog.Stream() << L" CrashReportRefused:" << dump.path << L" (HTTP status 413), not sent again";
    } else if (!accepted) {
        g_updateLog.Stream() << L" CrashReportWait:" << UtcText(record.waitUntil) << L" as the server asked (HTTP status "
                             << status << L")";
    }
}

}  // namespace

int UploadCrashDump(const CrashReportOptions& options, const CrashReportPolicy& policy)
{
    try {
        for (const std::wstring& entry : policy.logEntries) {
            g_updateLog.Stream() << entry;
        }
        if (policy.reportsOff || options.dumpPath.empty()) {
            return 0;  // off by the administrator; or nothing named, or a path that would have had to be cut
        }
        OfferedDump dump;
        dump.path = options.dumpPath;
        const std::optional<FileIdentity> file = IdentifyFile(dump.path);
        if (!file || file->size == 0) {
            return 0;  // missing, unreadable, a folder or empty: nothing to send, nothing counted
        }
        dump.file = *file;
        const ReportVerdict verdict = Admit(dump);
        if (verdict != ReportVerdict::Send) {
            return verdict == ReportVerdict::SentBefore ? 1 : 0;  // accepted before: the browser may let it go
        }

        FormFields fields;
        fields[L"name"] = L"Orvanta Velmar";
        fields[L"version1"] = options.version;
        fields[L"os"] = options.os;
        std::wstring response;
        std::wstring retryAfter;
        int status = 0;
        // A time-out always: a report that never ends would hold the browser's crash handling.
        const bool uploaded = PostMultipartForm(g_pszErrorLogUrl, fields, options.dumpPath, L"dump_file",
                                                DefaultTransferLimits().timeoutMs, &response, &status, &retryAfter);
        try {
            Note(dump, uploaded, status, retryAfter);
        } catch (...) {
            // The upload's outcome stands, whatever befalls the bookkeeping.
        }
        return uploaded ? 1 : 0;
    } catch (...) {
        // Whatever escapes is a failed upload, not a crash of the reporter.
        return 0;
    }
}

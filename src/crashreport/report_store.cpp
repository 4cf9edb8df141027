#include "crashreport/report_store.h"

#include "base/registry.h"

#include <string>

namespace {

// Per session, so per user: one user's reports never wait on another's.
constexpr wchar_t kMutexName[] = L"Orvanta_VelmarCrashReport";
constexpr wchar_t kStartsValue[] = L"CrashReportStarts";
constexpr wchar_t kWaitValue[] = L"CrashReportWaitUntil";
constexpr wchar_t kSentValue[] = L"CrashReportsSent";
constexpr wchar_t kRefusedValue[] = L"CrashReportsRefused";

std::vector<std::wstring> StartTexts(const std::vector<std::int64_t>& starts)
{
    std::vector<std::wstring> texts;
    for (const std::int64_t start : starts) {
        texts.push_back(std::to_wstring(start));
    }
    return texts;
}

DWORD SaveList(const wchar_t* name, const std::vector<std::wstring>& texts)
{
    return WriteTextList(HKEY_CURRENT_USER, kVelmarUserKey, name, texts);
}

}  // namespace

RecordLock::RecordLock() : mutex_(::CreateMutexW(nullptr, FALSE, kMutexName))
{
    if (mutex_.Valid()) {
        // An owner that died holding it left values that are each whole: take it.
        const DWORD waited = ::WaitForSingleObject(mutex_.Get(), kRecordLockWaitMs);
        held_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    }
}

RecordLock::~RecordLock()
{
    if (held_) {
        ::ReleaseMutex(mutex_.Get());
    }
}

ReportRecord LoadRecord(std::int64_t now)
{
    RegistryKey key;
    RecordValues values;
    if (key.Open(HKEY_CURRENT_USER, kVelmarUserKey) == ERROR_SUCCESS) {
        values.starts = key.Read(kStartsValue, kMaxTextListBytes);
        values.waitUntil = key.Read(kWaitValue, sizeof(std::uint64_t));
        values.sent = key.Read(kSentValue, kMaxTextListBytes);
        values.refused = key.Read(kRefusedValue, kMaxTextListBytes);
    }
    return ReadRecord(values, now);
}

WinStatus SaveRecord(const ReportRecord& record, unsigned parts)
{
    DWORD result = ERROR_SUCCESS;
    if (parts & kRecordStarts) {
        result = SaveList(kStartsValue, StartTexts(record.starts));
    }
    if ((parts & kRecordWait) && result == ERROR_SUCCESS) {
        result = record.waitUntil == 0 ? DeleteRegistryValue(HKEY_CURRENT_USER, kVelmarUserKey, kWaitValue)
                                       : WriteQword(HKEY_CURRENT_USER, kVelmarUserKey, kWaitValue,
                                                    static_cast<std::uint64_t>(record.waitUntil));
    }
    if ((parts & kRecordSent) && result == ERROR_SUCCESS) {
        result = SaveList(kSentValue, record.sent);
    }
    if ((parts & kRecordRefused) && result == ERROR_SUCCESS) {
        result = SaveList(kRefusedValue, record.refused);
    }
    return WinStatus(result);
}

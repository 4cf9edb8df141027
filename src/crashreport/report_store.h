// The record of crash reports in the registry, beside LastTimeCheck, and the
// named mutex that every crash process of this session takes to read and
// update it. The lock is held for the bookkeeping only, never during an upload.
#pragma once

#include "base/handle_owner.h"
#include "base/win_status.h"
#include "crashreport/report_record.h"

#include <cstdint>

// How long a report waits for another's bookkeeping, which takes milliseconds.
constexpr DWORD kRecordLockWaitMs = 5000;

class RecordLock {
public:
    // Waits at most kRecordLockWaitMs for the mutex.
    RecordLock();
    ~RecordLock();
    RecordLock(const RecordLock&) = delete;
    RecordLock& operator=(const RecordLock&) = delete;
    bool Held() const { return held_; }

private:
    HandleOwner mutex_;
    bool held_ = false;
};

// Read and written only while a RecordLock is held.
ReportRecord LoadRecord(std::int64_t now);
// Writes the parts named (RecordPart bits); an empty one is deleted.
WinStatus SaveRecord(const ReportRecord& record, unsigned parts);

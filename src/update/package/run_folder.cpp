#include "update/package/run_folder.h"

#include "base/decimal_text.h"
#include "base/file_io.h"
#include "base/random.h"
#include "log/update_log.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace {

constexpr std::uint32_t kFolderNumbers = 32768;
constexpr int kFolderDraws = 8;
constexpr DWORD kOpenFolder = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
// What a hold shares: no delete access, so nobody renames, moves or removes the folder.
constexpr DWORD kShareAllButDelete = FILE_SHARE_READ | FILE_SHARE_WRITE;

enum class Removal { Gone, Held, Refused };

// %TEMP% followed by a number from 0 to 32767 without leading zeros: only such
// a folder is ever touched, whatever the registry says.
bool IsRunFolder(const std::wstring& folder)
{
    const std::wstring temp = TempFolder();
    if (temp.empty() || folder.size() <= temp.size() || folder.compare(0, temp.size(), temp) != 0) {
        return false;
    }
    const std::wstring number = folder.substr(temp.size());
    const std::optional<std::uint64_t> value = ParsePlainDecimal(number, kFolderNumbers - 1);
    return value && std::to_wstring(*value) == number;
}

// Why an open folder is not the plain folder `path` names directly in %TEMP%; null when it is.
const wchar_t* NotPlainFolder(HANDLE folder, const std::wstring& path)
{
    const std::wstring temp = TempFolder();
    return NotPlainEntry(folder, temp, path.substr(temp.size()), true);
}

// What emptying a folder found.
struct Emptied {
    bool held = false;      // a file of ours that could not go yet (another program has it open)
    bool notPlain = false;  // something that is not a plain file of ours: it stays
};

// Deletes the plain files directly in a held folder, listed through its
// handle, each through a handle of its own proven plain; folders and links
// inside stay, and nothing is reached through them.
Emptied DeleteFilesIn(HANDLE folder, const std::wstring& path)
{
    std::vector<ULONGLONG> buffer(8192);  // aligned for FILE_FULL_DIR_INFO
    const DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(ULONGLONG));
    std::vector<std::wstring> names;
    Emptied emptied;
    for (FILE_INFO_BY_HANDLE_CLASS kind = FileFullDirectoryRestartInfo;
         ::GetFileInformationByHandleEx(folder, kind, buffer.data(), bytes); kind = FileFullDirectoryInfo) {
        const auto* entry = reinterpret_cast<const FILE_FULL_DIR_INFO*>(buffer.data());
        for (;;) {
            const std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..") {
                if ((entry->FileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0) {
                    names.push_back(name);
                } else {
                    emptied.notPlain = true;
                }
            }
            if (entry->NextEntryOffset == 0) {
                break;
            }
            entry = reinterpret_cast<const FILE_FULL_DIR_INFO*>(reinterpret_cast<const char*>(entry) +
                                                                entry->NextEntryOffset);
        }
    }
    for (const std::wstring& name : names) {
        const WinStatus deleted = DeletePlain(path, name);
        emptied.notPlain |= deleted.Error() == kNotPlainError;
        emptied.held |= !deleted && deleted.Error() != kNotPlainError;
    }
    return emptied;
}

bool IsGone(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// Removes a recorded folder, if it is still the one recorded. It is opened
// without following links and held against others while its files go, then
// deleted through that handle. Held: something still holds it, try later.
Removal RemoveRecorded(const std::wstring& path, const FileId& id, const wchar_t*& why)
{
    if (!IsRunFolder(path)) {
        why = L"not a run folder";
        return Removal::Refused;
    }
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return IsGone(::GetLastError()) ? Removal::Gone : Removal::Held;
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        why = L"a link";
        return Removal::Refused;
    }
    HandleOwner folder(::CreateFileW(path.c_str(), DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                     kShareAllButDelete, nullptr, OPEN_EXISTING, kOpenFolder, nullptr));
    if (!folder.Valid()) {
        return IsGone(::GetLastError()) ? Removal::Gone : Removal::Held;
    }
    const std::optional<FileId> found = FileIdOf(folder.Get());
    why = found ? NotPlainFolder(folder.Get(), path) : L"its file id cannot be read";
    if (why == nullptr && !(*found == id)) {
        why = L"another folder than the one recorded";
    }
    if (why != nullptr) {
        return Removal::Refused;
    }
    const Emptied emptied = DeleteFilesIn(folder.Get(), path);
    if (emptied.held) {
        return Removal::Held;
    }
    if (emptied.notPlain) {
        // It would never be empty: kept for ever, and every later run would try again.
        why = L"holds something other than plain files";
        return Removal::Refused;
    }
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = TRUE;
    return ::SetFileInformationByHandle(folder.Get(), FileDispositionInfo, &disposition, sizeof disposition)
               ? Removal::Gone
               : Removal::Held;
}

void LogSkipped(const std::wstring& path, const wchar_t* why)
{
    g_updateLog.Stream() << L" LeftFolderSkipped:" << path << L" " << why;
}

}  // namespace

std::wstring FormatFolderRecord(const std::wstring& path, const FileId& id)
{
    return path + L"|" + std::to_wstring(id.volume) + L":" + std::to_wstring(id.index);
}

std::wstring ParseFolderRecord(const std::wstring& record, std::optional<FileId>& id)
{
    id.reset();
    const std::size_t bar = record.rfind(L'|');
    const std::size_t colon = record.rfind(L':');
    if (bar == std::wstring::npos || colon == std::wstring::npos || colon < bar) {
        return record;
    }
    const auto volume = ParsePlainDecimal(record.substr(bar + 1, colon - bar - 1), MAXDWORD);
    const auto index = ParsePlainDecimal(record.substr(colon + 1));
    if (volume && index) {
        id = FileId{static_cast<DWORD>(*volume), *index};
    }
    return record.substr(0, bar);
}

WinResult<RunFolder> RunFolder::Create(const FolderRecords& records)
{
    using Result = WinResult<RunFolder>;
    const std::wstring temp = TempFolder();
    HeldAncestors above;
    if (const WinStatus held = temp.empty() ? WinStatus(ERROR_PATH_NOT_FOUND) : above.Hold(temp); !held) {
        return Result::Failed(held);
    }
    for (int draw = 0; draw < kFolderDraws; ++draw) {
        std::uint32_t number = 0;
        if (!RandomBelow(kFolderNumbers, number)) {
            return Result::Failed(WinStatus(ERROR_GEN_FAILURE));
        }
        const std::wstring path = temp + std::to_wstring(number);
        if (!::CreateDirectoryW(path.c_str(), nullptr)) {
            const WinStatus created = WinStatus::LastError();
            if (created.Error() == ERROR_ALREADY_EXISTS) {
                continue;  // someone else's folder, or an earlier run's: what it holds is not ours to run
            }
            return Result::Failed(created);
        }
        // Held at once, and recorded before anything goes in. The hold has no
        // delete access itself, so a file can still be renamed into the folder.
        HandleOwner hold(::CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, kShareAllButDelete,
                                       nullptr, OPEN_EXISTING, kOpenFolder, nullptr));
        if (!hold.Valid()) {
            return Result::Failed(WinStatus::LastError());
        }
        const std::optional<FileId> id = FileIdOf(hold.Get());
        if (!id || NotPlainFolder(hold.Get(), path) != nullptr) {
            // Swapped for something else at once: left as it stands.
            return Result::Failed(WinStatus(kNotPlainError));
        }
        std::vector<std::wstring> left = records.read().value_or(std::vector<std::wstring>());
        left.push_back(FormatFolderRecord(path, *id));
        if (const DWORD error = records.save(left)) {
            hold.Reset();
            DeletePlain(temp, std::to_wstring(number), true);
            return Result::Failed(WinStatus(error));
        }
        return Result::Of(RunFolder(path, *id, std::move(hold), std::move(above), records));
    }
    return Result::Failed(WinStatus(ERROR_ALREADY_EXISTS));
}

RunFolder::RunFolder(std::wstring path, const FileId& id, HandleOwner hold, HeldAncestors above,
                     const FolderRecords& records)
    : path_(std::move(path)), id_(id), hold_(std::move(hold)), above_(std::move(above)), records_(records)
{
}

RunFolder::RunFolder(RunFolder&& other) noexcept
    : path_(std::exchange(other.path_, std::wstring())), id_(other.id_), hold_(std::move(other.hold_)),
      above_(std::move(other.above_)), records_(other.records_)
{
}

std::vector<HANDLE> RunFolder::Holds() const
{
    std::vector<HANDLE> holds = above_.Handles();
    holds.push_back(hold_.Get());
    return holds;
}

RunFolder::~RunFolder()
{
    if (path_.empty()) {
        return;
    }
    // Our own hold shares no delete access either. Once it is closed, another
    // program could swap the folder: the removal then finds another id and leaves it.
    hold_.Reset();
    const wchar_t* why = nullptr;
    const Removal removal = RemoveRecorded(path_, id_, why);
    if (removal == Removal::Held) {
        return;  // a later run goes on
    }
    if (removal == Removal::Refused) {
        LogSkipped(path_, why);
    }
    std::vector<std::wstring> left = records_.read().value_or(std::vector<std::wstring>());
    left.erase(std::remove(left.begin(), left.end(), FormatFolderRecord(path_, id_)), left.end());
    records_.save(left);
}

void RunFolder::LeaveForLater()
{
    hold_.Reset();
    path_.clear();
}

void RemoveLeftRunFolders(const FolderRecords& records)
{
    const std::optional<std::vector<std::wstring>> read = records.read();
    if (!read) {
        // The next run folder's record replaces it: the folders it named are forgotten.
        g_updateLog.Stream() << L" LeftFoldersUnreadable:of another type or too long, the folders it names stay";
        return;
    }
    const std::vector<std::wstring>& left = *read;
    if (left.empty()) {
        return;
    }
    std::vector<std::wstring> still;
    for (const std::wstring& record : left) {
        std::optional<FileId> id;
        const std::wstring path = ParseFolderRecord(record, id);
        // Without an id nothing tells that run's folder from one another program
        // made later under the same number: it is not touched.
        const wchar_t* why = L"recorded without a file id, by an earlier build";
        const Removal removal = id ? RemoveRecorded(path, *id, why) : Removal::Refused;
        if (removal == Removal::Held) {
            still.push_back(record);
        } else if (removal == Removal::Refused) {
            LogSkipped(path, why);
        }
    }
    if (still.size() != left.size()) {
        records.save(still);
    }
}

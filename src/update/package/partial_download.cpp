#include "update/package/partial_download.h"

#include "base/decimal_text.h"
#include "base/file_io.h"
#include "base/handle_owner.h"
#include "base/plain_file.h"
#include "base/utf8_text.h"
#include "log/update_log.h"
#include "update/package/resume_rules.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <vector>

std::string FormatPartialState(const PartialState& state)
{
    return Utf8FromWide(L"url=" + state.url + L"\nvalidator=" + state.validator + L"\nsize=" +
                        std::to_wstring(state.size) + L"\nsha256=" + state.sha256 + L"\n");
}

std::optional<PartialState> ParsePartialState(const std::string& text)
{
    const std::wstring wide = WideFromUtf8(text);
    PartialState state;
    std::wstring* const fields[] = {&state.url, &state.validator, nullptr, &state.sha256};
    const wchar_t* const names[] = {L"url=", L"validator=", L"size=", L"sha256="};
    std::size_t at = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        const std::size_t end = wide.find(L'\n', at);
        const std::size_t nameLength = std::wcslen(names[i]);
        if (end == std::wstring::npos || wide.compare(at, nameLength, names[i]) != 0) {
            return std::nullopt;
        }
        const std::wstring value = wide.substr(at + nameLength, end - at - nameLength);
        if (fields[i] != nullptr) {
            *fields[i] = value;
        } else if (const std::optional<std::uint64_t> size = ParsePlainDecimal(value)) {
            state.size = *size;
        } else {
            return std::nullopt;
        }
        at = end + 1;
    }
    // A control character would reach a request header line.
    const bool whole = at == wide.size() && !state.url.empty() && state.size != 0;
    const bool safe = IsHeaderSafe(state.url) && IsHeaderSafe(state.validator) && IsHeaderSafe(state.sha256);
    return whole && safe ? std::optional<PartialState>(state) : std::nullopt;
}

namespace {

constexpr wchar_t kPartialFolder[] = L"VelmarUpdate";
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

void LogObstacle(const std::wstring& path, const WinStatus& removed)
{
    auto& entry = g_updateLog.Stream() << L" PartialObstacle:" << path;
    if (removed) {
        entry << L" removed";
    } else {
        entry << L" could not be removed (Windows error " << static_cast<unsigned long>(removed.Error())
              << L"), downloading without resume";
    }
}

// A folder where a file belongs, or a file where the folder belongs, would stop
// every download: it goes if it is a plain one of ours (a folder only when
// empty), and the log says so either way. A link, or a file with more than one
// link, is never what belongs, and stays.
bool ClearObstacle(const std::wstring& folder, const std::wstring& name, bool folderWanted)
{
    const DWORD attributes = ::GetFileAttributesW(JoinedPath(folder, name).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        OpenPlain(folder, name, 0, kShareAll, OPEN_EXISTING, folderWanted).value) {
        return true;
    }
    const bool isFolder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const WinStatus removed =
        isFolder == folderWanted ? WinStatus(kNotPlainError) : DeletePlain(folder, name, isFolder);
    LogObstacle(JoinedPath(folder, name), removed);
    return static_cast<bool>(removed);
}

}  // namespace

PartialDownload::PartialDownload(const std::wstring& name) : name_(name)
{
    const std::wstring temp = TempFolder();
    if (temp.empty() || !ClearObstacle(temp, kPartialFolder, true)) {
        return;
    }
    ::CreateDirectoryW(JoinedPath(temp, kPartialFolder).c_str(), nullptr);
    if (!OpenPlain(temp, kPartialFolder, 0, kShareAll, OPEN_EXISTING, true).value) {
        return;
    }
    folder_ = JoinedPath(temp, kPartialFolder);
    // An earlier build kept one partial download for both kinds under this name: not resumed.
    DeletePlain(folder_, L"package.part");
    DeletePlain(folder_, L"package.state");
    if (!ClearObstacle(folder_, PartName(), false) || !ClearObstacle(folder_, StateName(), false)) {
        folder_.clear();
    }
}

void PartialDownload::GiveUp(const std::wstring& fileName, const WinStatus& why)
{
    if (Usable()) {
        LogObstacle(JoinedPath(folder_, fileName), why);
        folder_.clear();
    }
}

std::optional<PartialState> PartialDownload::Load() const
{
    const WinResult<HandleOwner> file =
        Usable() ? OpenPlain(folder_, StateName(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING)
                 : WinResult<HandleOwner>::Failed(WinStatus(ERROR_PATH_NOT_FOUND));
    std::vector<char> text(8192);
    DWORD read = 0;
    if (!file.value || !::ReadFile(file.value->Get(), text.data(), static_cast<DWORD>(text.size()), &read, nullptr) ||
        read == text.size()) {
        return std::nullopt;
    }
    return ParsePartialState(std::string(text.data(), read));
}

WinStatus PartialDownload::Save(const PartialState& state) const
{
    // Written anew, never through whatever stands at its name.
    const WinStatus cleared = Usable() ? DeletePlain(folder_, StateName()) : WinStatus(ERROR_PATH_NOT_FOUND);
    if (!cleared) {
        return cleared;
    }
    const WinResult<HandleOwner> file = OpenPlain(folder_, StateName(), GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW);
    const std::string text = FormatPartialState(state);
    return file.value ? WriteAllBytes(file.value->Get(), text.data(), text.size()) : file.status;
}

void PartialDownload::ForgetState() const
{
    if (Usable()) {
        DeletePlain(folder_, StateName());
    }
}

void RemoveEmptyPartialFolder()
{
    const std::wstring temp = TempFolder();
    if (!temp.empty()) {
        DeletePlain(temp, kPartialFolder, true);  // fails, and leaves it, while it holds anything
    }
}

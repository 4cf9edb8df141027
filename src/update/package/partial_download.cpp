#include "update/package/partial_download.h"

#include "base/decimal_text.h"
#include "base/file_io.h"
#include "base/handle_owner.h"
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

// A folder where a file belongs, or a file where the folder belongs, would stop
// every download: it goes if it can, and the log says so either way.
bool ClearObstacle(const std::wstring& path, bool folderWanted)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return true;
    }
    const bool isFolder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const bool isLink = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (isFolder == folderWanted && !isLink) {
        return true;
    }
    // Only an empty folder is removed, and a link is removed as a link.
    const bool removed = isFolder ? ::RemoveDirectoryW(path.c_str()) != 0 : ::DeleteFileW(path.c_str()) != 0;
    auto& entry = g_updateLog.Stream() << L" PartialObstacle:" << path;
    if (removed) {
        entry << L" removed";
    } else {
        entry << L" could not be removed (Windows error " << static_cast<unsigned long>(::GetLastError())
              << L"), downloading without resume";
    }
    return removed;
}

}  // namespace

PartialDownload::PartialDownload(const std::wstring& name) : name_(name)
{
    const std::wstring temp = TempFolder();
    if (temp.empty()) {
        return;
    }
    const std::wstring folder = temp + L"VelmarUpdate";
    if (!ClearObstacle(folder, true)) {
        return;
    }
    ::CreateDirectoryW(folder.c_str(), nullptr);
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return;
    }
    folder_ = folder;
    // An earlier build kept one partial download for both kinds under this name: not resumed.
    ::DeleteFileW((folder + L"\\package.part").c_str());
    ::DeleteFileW((folder + L"\\package.state").c_str());
    if (!ClearObstacle(PartPath(), false) || !ClearObstacle(StatePath(), false)) {
        folder_.clear();
    }
}

std::optional<PartialState> PartialDownload::Load() const
{
    HandleOwner file(::CreateFileW(StatePath().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    std::vector<char> text(8192);
    DWORD read = 0;
    if (!file.Valid() || !::ReadFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &read, nullptr) ||
        read == text.size()) {
        return std::nullopt;
    }
    return ParsePartialState(std::string(text.data(), read));
}

WinStatus PartialDownload::Save(const PartialState& state) const
{
    return WriteWholeFile(StatePath(), FormatPartialState(state));
}

void PartialDownload::ForgetState() const { ::DeleteFileW(StatePath().c_str()); }

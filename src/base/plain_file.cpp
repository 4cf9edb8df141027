#include "base/plain_file.h"

#include <vector>

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9 (and COM¹-³, LPT¹-³) name devices in any folder, with any
// extension and trailing blanks; CONIN$ and CONOUT$ name the console.
bool IsDeviceName(const std::wstring& fileName)
{
    std::wstring stem = fileName.substr(0, fileName.find(L'.'));
    stem.erase(stem.find_last_not_of(L' ') + 1);
    for (wchar_t& c : stem) {
        if (c >= L'a' && c <= L'z') {
            c = static_cast<wchar_t>(c - L'a' + L'A');
        }
    }
    for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"}) {
        if (stem == device) {
            return true;
        }
    }
    // Windows takes the superscript digits one, two and three for ports as well.
    const bool portDigit = stem.size() == 4 && ((stem[3] >= L'1' && stem[3] <= L'9') || stem[3] == 0x00B9 ||
                                                stem[3] == 0x00B2 || stem[3] == 0x00B3);
    return portDigit && (stem.compare(0, 3, L"COM") == 0 || stem.compare(0, 3, L"LPT") == 0);
}

bool IsGone(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

}  // namespace

bool IsPlainFileName(const std::wstring& fileName)
{
    if (fileName.empty() || fileName == L"." || fileName == L".." || IsDeviceName(fileName)) {
        return false;
    }
    for (const wchar_t c : fileName) {
        if (c < 0x20 || std::wstring(L"\\/:*?\"<>|").find(c) != std::wstring::npos) {
            return false;
        }
    }
    return true;
}

std::wstring JoinedPath(const std::wstring& folder, const std::wstring& name)
{
    return folder + (!folder.empty() && folder.back() == L'\\' ? L"" : L"\\") + name;
}

std::wstring FinalPathOf(HANDLE file)
{
    std::vector<wchar_t> name(MAX_PATH);
    for (;;) {
        const DWORD length = ::GetFinalPathNameByHandleW(file, name.data(), static_cast<DWORD>(name.size()), 0);
        if (length == 0 || length < name.size()) {
            return std::wstring(name.data(), length);
        }
        name.resize(length + 1);
    }
}

const wchar_t* NotPlainEntry(HANDLE opened, const std::wstring& folder, const std::wstring& name, bool folderWanted)
{
    if (!IsPlainFileName(name)) {
        return L"not a plain name";
    }
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!::GetFileInformationByHandle(opened, &info)) {
        return L"its attributes cannot be read";
    }
    const std::wstring path = JoinedPath(folder, name);
    const DWORD pathAttributes = ::GetFileAttributesW(path.c_str());
    if (pathAttributes == INVALID_FILE_ATTRIBUTES ||
        ((pathAttributes | info.dwFileAttributes) & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return L"a link";
    }
    if (((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) != folderWanted) {
        return folderWanted ? L"not a folder" : L"a folder";
    }
    if (!folderWanted && info.nNumberOfLinks != 1) {
        return L"a file with more than one link";  // a hard link leads elsewhere too
    }
    HandleOwner parent(::CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    const std::wstring parentPath = parent.Valid() ? FinalPathOf(parent.Get()) : std::wstring();
    const std::wstring actual = FinalPathOf(opened);
    if (parentPath.empty() || actual.empty()) {
        return L"where it really is cannot be told";
    }
    const std::wstring expected = JoinedPath(parentPath, name);
    const bool same = ::CompareStringOrdinal(actual.c_str(), static_cast<int>(actual.size()), expected.c_str(),
                                             static_cast<int>(expected.size()), TRUE) == CSTR_EQUAL;
    return same ? nullptr : L"a link";
}

WinResult<HandleOwner> OpenPlain(const std::wstring& folder, const std::wstring& name, DWORD access, DWORD share,
                                 DWORD disposition, bool folderWanted)
{
    using Result = WinResult<HandleOwner>;
    if (!IsPlainFileName(name)) {
        return Result::Failed(WinStatus(kNotPlainError));
    }
    // Not through a link where Windows can help it; Wine follows it anyway, and the proof below sees that.
    const DWORD flags =
        FILE_FLAG_OPEN_REPARSE_POINT | (folderWanted ? FILE_FLAG_BACKUP_SEMANTICS : FILE_ATTRIBUTE_NORMAL);
    HandleOwner opened(::CreateFileW(JoinedPath(folder, name).c_str(), access | FILE_READ_ATTRIBUTES, share, nullptr,
                                     disposition, flags, nullptr));
    if (!opened.Valid()) {
        return Result::Failed(WinStatus::LastError());
    }
    if (NotPlainEntry(opened.Get(), folder, name, folderWanted) != nullptr) {
        return Result::Failed(WinStatus(kNotPlainError));
    }
    return Result::Of(std::move(opened));
}

WinStatus DeletePlain(const std::wstring& folder, const std::wstring& name, bool isFolder)
{
    // Shared for reading and writing only: nobody renames it between the proof and the deletion.
    const WinResult<HandleOwner> opened =
        OpenPlain(folder, name, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, isFolder);
    if (!opened.value) {
        return IsGone(opened.status.Error()) ? WinStatus() : opened.status;
    }
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = TRUE;
    return ::SetFileInformationByHandle(opened.value->Get(), FileDispositionInfo, &disposition, sizeof disposition)
               ? WinStatus()
               : WinStatus::LastError();
}

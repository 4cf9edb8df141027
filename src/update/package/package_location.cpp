#include "update/package/package_location.h"

#include "net/transfer_rules.h"

bool FileNameFromUrl(const std::wstring& url, std::wstring& fileName)
{
    const std::size_t slash = url.rfind(L'/');
    if (slash == std::wstring::npos) {
        return false;
    }
    fileName = url.substr(slash + 1);
    return true;
}

namespace {

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

std::wstring JoinPackagePath(const std::wstring& folder, const std::wstring& fileName, std::size_t bufferChars)
{
    std::wstring path = folder + L"\\" + fileName;
    if (path.size() + 1 > bufferChars) {
        return std::wstring();
    }
    return path;
}

std::optional<std::wstring> PackageFileName(const std::wstring& url)
{
    std::wstring fileName;
    if (!HasHttpScheme(url) || !FileNameFromUrl(url, fileName) || !IsPlainFileName(fileName)) {
        return std::nullopt;
    }
    return fileName;
}

#include "update/package_location.h"


bool FileNameFromUrl(const std::wstring& url, std::wstring& fileName)
{
    const std::size_t slash = url.rfind(L'/');
    if (slash == std::wstring::npos) {
        return false;
    }
    fileName = url.substr(slash + 1);
    return true;
}

bool IsPlainFileName(const std::wstring& fileName)
{
    if (fileName.empty() || fileName == L"." || fileName == L"..") {
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

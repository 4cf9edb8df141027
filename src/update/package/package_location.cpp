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

#include "update/manifest.h"

#include "net/transfer_rules.h"
#include "update/signed_download.h"

#include <vector>

namespace {

// A version text longer than a command-line switch value cannot be compared with one.
constexpr std::size_t kMaxVersionChars = 258;

}  // namespace

ManifestFetch FetchManifest(const std::wstring& url, const UpdateKeys& keys, std::wstring& path)
{
    wchar_t tempDir[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, tempDir);
    wchar_t file[MAX_PATH] = {};
    ::GetTempFileNameW(tempDir, L"ov", ::GetTickCount(), file);
    path = file;
    switch (DownloadSignedFile(url.c_str(), file, ManifestTransferLimits(), keys)) {
    case SignedDownload::Verified:
        return ManifestFetch::Fetched;
    case SignedDownload::TransferFailed:
        break;
    case SignedDownload::SignatureRejected:
        return ManifestFetch::Rejected;
    }
    return ManifestFetch::Unavailable;
}

std::optional<std::wstring> ReadManifestValue(const std::wstring& path, const wchar_t* section, const wchar_t* key,
                                              std::size_t maxChars, ProfileReader reader)
{
    // Two characters of room: a value that fills them was cut by the reader.
    std::vector<wchar_t> buffer(maxChars + 2, L'\0');
    const DWORD length = reader(section, key, L"", buffer.data(), static_cast<DWORD>(buffer.size()), path.c_str());
    if (length == 0 || length > maxChars) {
        return std::nullopt;
    }
    return std::wstring(buffer.data(), length);
}

ManifestValues ReadManifestValues(const std::wstring& path, ProfileReader reader)
{
    ManifestValues values;
    values.version = ReadManifestValue(path, L"main", L"version", kMaxVersionChars, reader).value_or(L"0");
    values.miniver = ReadManifestValue(path, L"main", L"miniver", kMaxVersionChars, reader).value_or(L"0");
    values.newest = ReadManifestValue(path, L"main", L"newest", kMaxUrlChars, reader).value_or(L"");
    return values;
}

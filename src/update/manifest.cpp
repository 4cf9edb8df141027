#include "update/manifest.h"

#include "log/update_log.h"
#include "net/transfer_rules.h"
#include "update/check_schedule.h"
#include "base/file_io.h"
#include "net/http_download.h"
#include "update/manifest_signature.h"

#include <vector>

namespace {

// A version text longer than a command-line switch value cannot be compared with one.
constexpr std::size_t kMaxVersionChars = 258;
// Longer than any well-formed serial (19 digits), size or time (20 characters), so too long means malformed.
constexpr std::size_t kMaxNumberChars = 24;

// The log's words for each verdict, in the order of ManifestVerdict.
const wchar_t* const kVerdictTexts[] = {L"accepted", L"serial missing or malformed", L"expires missing or malformed",
                                        L"expired", L"serial lower than one accepted before"};

}  // namespace

ManifestFetch FetchManifest(const std::wstring& url, const UpdateKeys& keys, std::wstring& path)
{
    wchar_t tempDir[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, tempDir);
    wchar_t file[MAX_PATH] = {};
    ::GetTempFileNameW(tempDir, L"ov", ::GetTickCount(), file);
    path = file;
    // Small and bounded: checked in memory, then written for the profile reader.
    std::string body;
    if (!DownloadUrlToString(url.c_str(), ManifestTransferLimits(), body)) {
        return ManifestFetch::Unavailable;
    }
    if (keys.Any() && !VerifyDetachedSignature(url, body, ManifestTransferLimits(), keys)) {
        return ManifestFetch::Rejected;
    }
    return WriteWholeFile(path, body) ? ManifestFetch::Fetched : ManifestFetch::Unavailable;
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

bool AcceptSignedManifest(const std::wstring& path)
{
    const std::wstring serial = ReadManifestValue(path, L"main", L"serial", kMaxNumberChars).value_or(L"");
    const std::wstring expires = ReadManifestValue(path, L"main", L"expires", kMaxNumberChars).value_or(L"");
    const std::optional<std::uint64_t> accepted = ReadManifestSerial();
    const ManifestVerdict verdict = JudgeManifest(serial, expires, CurrentUnixTime(), accepted);
    if (verdict != ManifestVerdict::Accepted) {
        auto& entry = g_updateLog.Stream() << L" ManifestRejected:" << kVerdictTexts[static_cast<int>(verdict)]
                                           << L" (serial " << serial << L", expires " << expires;
        if (accepted) {
            entry << L", accepted before " << *accepted;
        }
        entry << L")";
        return false;
    }
    SaveManifestSerial(*ParseManifestSerial(serial));
    return true;
}

std::optional<PackageBinding> ReadPackageBinding(const std::wstring& path, const std::wstring& manifestKey)
{
    const std::optional<std::wstring> size = ReadManifestValue(path, L"size", manifestKey.c_str(), kMaxNumberChars);
    const std::optional<std::wstring> sha256 = ReadManifestValue(path, L"sha256", manifestKey.c_str(), 64);
    const std::optional<std::uint64_t> bytes = size ? ParsePackageSize(*size) : std::nullopt;
    const std::optional<Sha256Digest> digest = sha256 ? ParseSha256Hex(*sha256) : std::nullopt;
    if (!bytes || !digest) {
        return std::nullopt;
    }
    return PackageBinding{*bytes, *digest};
}

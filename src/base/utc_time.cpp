#include "base/utc_time.h"

#include <windows.h>

#include <cwchar>
#include <iterator>

namespace {

// 100-ns intervals from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kUnixEpochAsFileTime = 116444736000000000LL;

}  // namespace

std::optional<std::int64_t> UnixSeconds(int year, int month, int day, int hour, int minute, int second)
{
    if (year < 1970 || year > 9999) {
        return std::nullopt;
    }
    SYSTEMTIME given = {};
    given.wYear = static_cast<WORD>(year);
    given.wMonth = static_cast<WORD>(month);
    given.wDay = static_cast<WORD>(day);
    given.wHour = static_cast<WORD>(hour);
    given.wMinute = static_cast<WORD>(minute);
    given.wSecond = static_cast<WORD>(second);
    FILETIME file = {};
    SYSTEMTIME back = {};
    // The way back must give the same fields: some versions of the conversion
    // take a 29 February of a common year and move it on.
    if (month < 1 || day < 1 || hour < 0 || minute < 0 || second < 0 || !::SystemTimeToFileTime(&given, &file) ||
        !::FileTimeToSystemTime(&file, &back) || back.wYear != given.wYear || back.wMonth != given.wMonth ||
        back.wDay != given.wDay || back.wHour != given.wHour || back.wMinute != given.wMinute ||
        back.wSecond != given.wSecond) {
        return std::nullopt;
    }
    const std::int64_t ticks = (static_cast<std::int64_t>(file.dwHighDateTime) << 32) | file.dwLowDateTime;
    return (ticks - kUnixEpochAsFileTime) / 10000000;
}

std::wstring UtcText(std::int64_t unixSeconds)
{
    if (unixSeconds < 0 || unixSeconds > 253402300799) {  // 1970 to the end of 9999
        return std::wstring();
    }
    const std::uint64_t ticks = static_cast<std::uint64_t>(unixSeconds * 10000000 + kUnixEpochAsFileTime);
    const FILETIME file = {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME time = {};
    if (!::FileTimeToSystemTime(&file, &time)) {
        return std::wstring();
    }
    wchar_t text[24] = {};
    std::swprintf(text, std::size(text), L"%04u-%02u-%02uT%02u:%02u:%02uZ", time.wYear, time.wMonth, time.wDay,
                  time.wHour, time.wMinute, time.wSecond);
    return text;
}

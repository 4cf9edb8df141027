// UTC calendar times as Unix seconds, with no time zone.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Seconds since 1970-01-01T00:00:00Z of a real Gregorian date and time from
// the year 1970 on (no leap second); nullopt for anything else (31 April, say).
std::optional<std::int64_t> UnixSeconds(int year, int month, int day, int hour, int minute, int second);
// "YYYY-MM-DDTHH:MM:SSZ"; empty for a time the system cannot show.
std::wstring UtcText(std::int64_t unixSeconds);

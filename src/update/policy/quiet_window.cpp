#include "update/policy/quiet_window.h"

#include <windows.h>

namespace {

constexpr int kMinutesPerDay = 1440;

std::wstring TwoDigits(int number)
{
    return std::wstring(number < 10 ? L"0" : L"") + std::to_wstring(number);
}

}  // namespace

bool IsInQuietWindow(const QuietWindow& window, int minuteOfDay)
{
    const int sinceStart = ((minuteOfDay - window.startMinute) % kMinutesPerDay + kMinutesPerDay) % kMinutesPerDay;
    return sinceStart < window.durationMinutes;
}

int LocalMinuteOfDay()
{
    SYSTEMTIME now = {};
    ::GetLocalTime(&now);
    return now.wHour * 60 + now.wMinute;
}

std::wstring QuietWindowText(const QuietWindow& window)
{
    return TwoDigits(window.startMinute / 60) + L":" + TwoDigits(window.startMinute % 60) + L" for " +
           std::to_wstring(window.durationMinutes) + L" min";
}

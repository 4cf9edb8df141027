// The quiet hours: a daily window in local time in which no check is made and
// no installer starts.
#pragma once

#include <string>

struct QuietWindow {
    int startMinute = 0;  // minute of the day, 0..1439, local time
    int durationMinutes = 0;
};

// Whether minuteOfDay (0..1439) lies in the window, which may cross midnight.
bool IsInQuietWindow(const QuietWindow& window, int minuteOfDay);

// The minute of the day now, local time: 0..1439.
int LocalMinuteOfDay();

// "22:30 for 120 min", as the log shows a window.
std::wstring QuietWindowText(const QuietWindow& window);

// Whether an update check is due (online, last check over a day ago) and the
// time stamp LastTimeCheck under HKCU\Software\Orvanta Velmar\Velmar.
#pragma once

bool IsInternetConnected();
int IsUpdateCheckDue();
void SaveLastCheckTime();

// Update mode: one whole update cycle.
#pragma once

#include <cstdint>

// 1 at start; afterwards 1 (nothing failed) or 3 (an update was to be fetched and failed).
extern std::int32_t g_nUpdateResult;

// Runs one cycle and reports it to the host window; always returns 0.
int RunUpdateCycle(const wchar_t* commandLine);

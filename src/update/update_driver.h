// Update mode: one whole update cycle.
#pragma once

// Runs one cycle and reports it to the host window; always returns 0.
int RunUpdateCycle(const wchar_t* commandLine);

// Update mode: one whole update cycle.
#pragma once

// Runs one cycle on the given command line and reports it to the host window;
// always returns 0. Nothing escapes: a failure that throws still ends with
// "OnComplete;3;".
int RunUpdateCycle(const wchar_t* commandLine);

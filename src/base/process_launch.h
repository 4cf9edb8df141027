// Starting a program and waiting for it to end.
#pragma once

#include <windows.h>

#include <string>

struct ProcessRun {
    bool started = false;  // CreateProcessW succeeded
    bool ended = false;    // the process ended within the wait
    DWORD exitCode = 0;    // valid when ended
    DWORD processId = 0;
    DWORD error = 0;       // GetLastError() of the call that failed
};

// Starts `program` (null: the first word of the command line) with the command
// line in a writable copy, no inherited handles, the caller's environment and
// folder, and waits up to timeoutMs (INFINITE for no limit).
ProcessRun RunProcessAndWait(const wchar_t* program, const std::wstring& commandLine, DWORD creationFlags,
                             DWORD timeoutMs);

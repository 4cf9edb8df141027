// Starting a program and waiting for it to end.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct ProcessRun {
    bool started = false;  // CreateProcessW succeeded
    bool ended = false;    // the process ended within the wait
    DWORD exitCode = 0;    // valid when ended
    DWORD processId = 0;
    DWORD error = 0;       // GetLastError() of the call that failed
    DWORD handOverError = 0;  // when a handle could not be handed to a process that outlived the wait
};

// Starts `program` (null: the first word of the command line) with the command
// line in a writable copy, no inherited handles, the caller's environment and
// folder, and waits up to timeoutMs (INFINITE for no limit). A process that
// outlives the wait gets a copy of each handle in heldPastWait, so what they
// hold stays held until it exits, whenever the caller lets go of its own.
ProcessRun RunProcessAndWait(const wchar_t* program, const std::wstring& commandLine, DWORD creationFlags,
                             DWORD timeoutMs, const std::vector<HANDLE>& heldPastWait = {});

// Update mode: one whole update cycle.
#pragma once

// Runs one cycle on the given command line and reports it to the host window;
// always returns 0. updatePublicKey is the key every downloaded file must be
// signed with (X then Y, 64 bytes), or null when signatures are off. Nothing
// escapes: a failure that throws still ends with "OnComplete;3;".
int RunUpdateCycle(const wchar_t* commandLine, const unsigned char* updatePublicKey);

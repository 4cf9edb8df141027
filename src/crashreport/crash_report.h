// Crash report mode ("/u:"): posts one dump file to the error-log server.
#pragma once

// Returns 1 when the report was uploaded, 0 otherwise; the process exit code.
int UploadCrashDump(const wchar_t* commandLine, const wchar_t* dumpPath);

// The command line turned into each mode's options, once, by the entry point.
#pragma once

#include "crashreport/crash_report.h"
#include "update/update_options.h"

// A flag switch such as "--velmarupdate-log": present or not.
bool HasSwitch(const wchar_t* commandLine, const wchar_t* switchText);

// "/w:", "/j:", "/v:" and "/installpath:".
UpdateOptions ReadUpdateOptions(const wchar_t* commandLine);

// "/u:", "/v:" and "/os:".
CrashReportOptions ReadCrashReportOptions(const wchar_t* commandLine);

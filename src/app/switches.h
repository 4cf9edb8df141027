// Command-line switch lookup. The command line is never split into arguments:
// a switch is found by a plain, case-sensitive text search for its name.
#pragma once

#include <cstdint>
#include <string>

// Every switch value is read into a zero-filled buffer of this many characters,
// declared to the lookup as kSwitchBufferChars - 1 so at most 258 characters land.
constexpr int kSwitchBufferChars = 260;
constexpr int kSwitchDeclaredSize = kSwitchBufferChars - 1;
constexpr std::size_t kSwitchValueMaxChars = kSwitchDeclaredSize - 1;

// True when switchText occurs in commandLine (also with an empty value); value
// then holds all of it: after the colon up to the next space, or between quotes.
bool FindSwitch(const wchar_t* commandLine, const wchar_t* switchText, std::wstring& value);

// Returns 1 when switchText occurs in commandLine (also with an empty value), else 0.
// Copies at most size - 1 characters of the value into buffer and writes no
// terminator of its own; the buffer is untouched when the switch is absent.
int GetSwitchValue(const wchar_t* commandLine, const wchar_t* switchText, wchar_t* buffer, int size);

// The switch value as a signed decimal number, saturating at the 32-bit range;
// 0 when absent or without digits.
std::int32_t GetSwitchNumber(const wchar_t* commandLine, const wchar_t* switchText);

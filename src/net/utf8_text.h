// UTF-16 <-> UTF-8 for the crash report request and its answer.
#pragma once

#include <string>

// Both read their input only up to its first zero unit, and give empty text
// when the input is empty or cannot be converted.
std::string Utf8FromWide(const std::wstring& text);
std::wstring WideFromUtf8(const std::string& bytes);

// Small file helpers that several areas need.
#pragma once

#include "base/win_status.h"

#include <windows.h>

#include <cstddef>
#include <string>

// Writes every byte, looping over partial writes; fails on the first failure
// (a full disk, say), saying why.
WinStatus WriteAllBytes(HANDLE file, const void* data, std::size_t size);

// Creates or truncates the file and writes the bytes into it.
WinStatus WriteWholeFile(const std::wstring& path, const std::string& bytes);

// The user's temporary folder with its trailing backslash; empty when it cannot
// be told or would not fit MAX_PATH.
std::wstring TempFolder();

// True when the path names an existing folder.
bool IsExistingFolder(const std::wstring& path);

// Downloads over the transfer core: into a file or into memory.
#pragma once

#include "net/transfer_rules.h"

#include <windows.h>

#include <functional>
#include <string>

// Sees each piece of a download as it is written (to hash it, say). It runs on
// the transfer's thread, and only until the download returns.
using PieceObserver = std::function<void(const char* data, DWORD size)>;

// Streams the body of an http(s) URL into path, created or truncated once the
// server has answered 200. True only for a complete download.
bool DownloadUrlToFile(const wchar_t* url, const wchar_t* path, const TransferLimits& limits,
                       const PieceObserver& observer = nullptr);

// The body of an http(s) URL in memory; limits.maxBytes should bound it.
bool DownloadUrlToString(const wchar_t* url, const TransferLimits& limits, std::string& body);

// A small download into memory (the manifest, a signature), tried again when
// it fails in a way that may pass.
#pragma once

#include "net/transfer_rules.h"

#include <cstdint>
#include <string>

// The body of an http(s) URL answered with 200; limits.maxBytes should bound it.
// deadlineTick (GetTickCount64; 0: none) bounds the tries and the waits between them.
bool DownloadUrlToString(const wchar_t* url, const TransferLimits& limits, std::uint64_t deadlineTick,
                         std::string& body);
// The same, with the last try's outcome: a 404 told from other failures, say.
TransferOutcome DownloadToString(const wchar_t* url, const TransferLimits& limits, std::uint64_t deadlineTick,
                                 std::string& body);

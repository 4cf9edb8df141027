// Downloads one URL into a file, always from the server (no cache).
#pragma once

#include <cstdint>

// The answer is a complete download only when the status is 200 and, if the
// server announced a length, exactly that many bytes arrived.
bool IsCompleteDownload(unsigned long status, bool lengthAnnounced, std::uint64_t announcedLength,
                        std::uint64_t receivedLength);

// Streams the body of an http(s) URL into path (created or truncated once the
// server has answered 200). True only for a complete download.
bool DownloadUrlToFile(const wchar_t* url, const wchar_t* path);

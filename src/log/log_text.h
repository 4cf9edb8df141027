// Encoding of log text: UTF-16 pieces in, the log file's bytes out.
#pragma once

#include <cstddef>
#include <string>

// Log files are UTF-8 without a byte-order mark. "\n" is stored as CR LF.
// A lone surrogate becomes U+FFFD, so no character can stop the logging.
// A surrogate pair split across two pieces is joined.
class Utf8LogEncoder {
public:
    void Append(const wchar_t* text, std::size_t length, std::string& out);
    // Emits a high surrogate still waiting for its partner.
    void Finish(std::string& out);

private:
    unsigned long pendingHigh_ = 0;
};

// Appends the UTF-8 form of one code point.
void AppendUtf8CodePoint(unsigned long codePoint, std::string& out);

// UTF-16 <-> UTF-8, the one conversion every area uses (log file, request
// body, server answers, test tools).
#pragma once

#include <cstddef>
#include <string>

// UTF-16 pieces in, UTF-8 bytes out. A lone surrogate becomes U+FFFD, so no
// text can stop a writer; a surrogate pair split across two pieces is joined.
class Utf8Encoder {
public:
    void Append(const wchar_t* text, std::size_t length, std::string& out);
    // Emits a high surrogate still waiting for its partner.
    void Finish(std::string& out);

private:
    unsigned long pendingHigh_ = 0;
};

// Both read their input only up to its first zero unit and give empty text for
// empty input. Invalid UTF-8 bytes become U+FFFD.
std::string Utf8FromWide(const std::wstring& text);
std::wstring WideFromUtf8(const std::string& bytes);

// Encoding of log text: UTF-16 pieces in, the log file's bytes out.
#pragma once

#include "base/utf8_text.h"

#include <cstddef>
#include <string>

// Log files are UTF-8 without a byte-order mark, and "\n" is stored as CR LF.
class Utf8LogEncoder {
public:
    void Append(const wchar_t* text, std::size_t length, std::string& out);
    void Finish(std::string& out) { utf8_.Finish(out); }

private:
    Utf8Encoder utf8_;
};

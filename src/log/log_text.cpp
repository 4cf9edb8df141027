#include "log/log_text.h"

void Utf8LogEncoder::Append(const wchar_t* text, std::size_t length, std::string& out)
{
    std::size_t start = 0;
    for (std::size_t i = 0; i < length; ++i) {
        if (text[i] == L'\n') {
            utf8_.Append(text + start, i - start, out);
            utf8_.Append(L"\r\n", 2, out);
            start = i + 1;
        }
    }
    utf8_.Append(text + start, length - start, out);
}

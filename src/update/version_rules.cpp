#include "update/version_rules.h"

#include "base/decimal_text.h"

#include <string>

bool SplitVersion(const wchar_t* text, wchar_t separator, VersionNumbers& numbers)
{
    if (text != nullptr) {
        const wchar_t* tokenStart = text;
        for (const wchar_t* p = text;; ++p) {
            if (*p == separator || *p == L'\0') {
                // Empty tokens (leading, trailing or doubled separators) give no number.
                if (p != tokenStart) {
                    const std::wstring token(tokenStart, p);
                    numbers.push_back(ParseDecimal32(token.c_str()));
                }
                if (*p == L'\0') {
                    break;
                }
                tokenStart = p + 1;
            }
        }
    }
    return !numbers.empty();
}

bool IsValidVersion(const wchar_t* text)
{
    VersionNumbers numbers;
    return SplitVersion(text, L'.', numbers) && numbers.size() == 4;
}

bool IsNewerVersion(const VersionNumbers& a, const VersionNumbers& b)
{
    // The installed version is not validated and may be short; pad, never read past the end.
    for (std::size_t i = 0; i < 4; ++i) {
        const std::int32_t left = i < a.size() ? a[i] : 0;
        const std::int32_t right = i < b.size() ? b[i] : 0;
        if (left != right) {
            return left > right;
        }
    }
    return false;
}

std::wstring CanonicalVersion(const wchar_t* text)
{
    VersionNumbers numbers;
    SplitVersion(text, L'.', numbers);
    std::wstring canonical;
    for (const std::int32_t number : numbers) {
        canonical += (canonical.empty() ? L"" : L".") + std::to_wstring(number);
    }
    return canonical;
}

int CompareVersion(const wchar_t* a, const wchar_t* b)
{
    VersionNumbers numbersB;
    SplitVersion(b, L'.', numbersB);
    VersionNumbers numbersA;
    if (!SplitVersion(a, L'.', numbersA)) {
        return -1;
    }
    return IsNewerVersion(numbersA, numbersB) ? 1 : 0;
}

#include "update/manifest/version_rules.h"

#include "base/decimal_text.h"

#include <algorithm>

namespace {

constexpr std::uint64_t kLargestPrefixNumber = 2147483647;
constexpr std::size_t kMostPrefixNumbers = 4;

}  // namespace

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

std::optional<VersionNumbers> ParseManifestVersion(const std::wstring& text)
{
    VersionNumbers numbers;
    return SplitVersion(text.c_str(), L'.', numbers) && numbers.size() == 4 ? std::optional<VersionNumbers>(numbers)
                                                                             : std::nullopt;
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

std::wstring CanonicalVersion(const VersionNumbers& numbers)
{
    std::wstring canonical;
    for (const std::int32_t number : numbers) {
        canonical += (canonical.empty() ? L"" : L".") + std::to_wstring(number);
    }
    return canonical;
}

std::optional<VersionNumbers> ParseVersionPrefix(const std::wstring& prefix)
{
    std::wstring body = prefix;
    if (!body.empty() && body.back() == L'.') {
        body.pop_back();
    }
    VersionNumbers numbers;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = body.find(L'.', start);
        const std::wstring part = body.substr(start, dot == std::wstring::npos ? std::wstring::npos : dot - start);
        // ParsePlainDecimal refuses empty parts, signs, blanks and anything but ASCII digits.
        const std::optional<std::uint64_t> number = ParsePlainDecimal(part, kLargestPrefixNumber);
        if (!number || numbers.size() == kMostPrefixNumbers) {
            return std::nullopt;
        }
        numbers.push_back(static_cast<std::int32_t>(*number));
        if (dot == std::wstring::npos) {
            return numbers;
        }
        start = dot + 1;
    }
}

bool StartsWithPrefix(const VersionNumbers& version, const VersionNumbers& prefix)
{
    return version.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), version.begin());
}

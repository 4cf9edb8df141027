#include "update/manifest/manifest_rules.h"

#include "base/decimal_text.h"
#include "base/hex_text.h"
#include "base/utc_time.h"

namespace {

constexpr std::uint64_t kLargestSerial = 0x7FFFFFFFFFFFFFFFull;

}  // namespace

std::optional<std::uint64_t> ParseManifestSerial(const std::wstring& text)
{
    const std::optional<std::uint64_t> serial = ParsePlainDecimal(text, kLargestSerial);
    return serial && *serial >= 1 ? serial : std::nullopt;
}

std::optional<std::int64_t> ParseManifestTime(const std::wstring& text)
{
    static const wchar_t kShape[] = L"0000-00-00T00:00:00Z";
    if (text.size() != 20) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (kShape[i] != L'0' && text[i] != kShape[i]) {
            return std::nullopt;
        }
    }
    const int year = ParseFixedDigits(text, 0, 4);
    const int month = ParseFixedDigits(text, 5, 2);
    const int day = ParseFixedDigits(text, 8, 2);
    const int hour = ParseFixedDigits(text, 11, 2);
    const int minute = ParseFixedDigits(text, 14, 2);
    const int second = ParseFixedDigits(text, 17, 2);
    return UnixSeconds(year, month, day, hour, minute, second);
}

std::optional<Sha256Digest> ParseSha256Hex(const std::wstring& text)
{
    if (text.size() != 64) {
        return std::nullopt;
    }
    Sha256Digest digest{};
    for (std::size_t i = 0; i < digest.size(); ++i) {
        const int high = HexDigitValue(text[2 * i]);
        const int low = HexDigitValue(text[2 * i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        digest[i] = static_cast<unsigned char>(high * 16 + low);
    }
    return digest;
}

std::optional<std::uint64_t> ParsePackageSize(const std::wstring& text)
{
    const std::optional<std::uint64_t> size = ParsePlainDecimal(text);
    return size && *size >= 1 ? size : std::nullopt;
}

ManifestVerdict JudgeManifest(std::optional<std::uint64_t> serial, std::optional<std::int64_t> expiry,
                              std::int64_t nowSeconds, std::optional<std::uint64_t> acceptedSerial)
{
    if (!serial) {
        return ManifestVerdict::BadSerial;
    }
    if (!expiry) {
        return ManifestVerdict::BadExpiry;
    }
    if (*expiry <= nowSeconds) {
        return ManifestVerdict::Expired;
    }
    if (acceptedSerial && *serial < *acceptedSerial) {
        return ManifestVerdict::SerialLower;
    }
    return ManifestVerdict::Accepted;
}

#include "net/retry_rules.h"

#include "base/decimal_text.h"
#include "base/utc_time.h"

#include <wininet.h>

#include <cwchar>

namespace {

// IMF-fixdate: "Sun, 06 Nov 1994 08:49:37 GMT".
std::optional<std::int64_t> ParseHttpDate(const std::wstring& text)
{
    static const wchar_t* const kDays[] = {L"Mon", L"Tue", L"Wed", L"Thu", L"Fri", L"Sat", L"Sun"};
    static const wchar_t* const kMonths[] = {L"Jan", L"Feb", L"Mar", L"Apr", L"May", L"Jun",
                                             L"Jul", L"Aug", L"Sep", L"Oct", L"Nov", L"Dec"};
    if (text.size() != 29 || text.compare(3, 2, L", ") != 0 || text[7] != L' ' || text[11] != L' ' ||
        text[16] != L' ' || text[19] != L':' || text[22] != L':' || text.compare(25, 4, L" GMT") != 0) {
        return std::nullopt;
    }
    bool dayName = false;
    for (const wchar_t* day : kDays) {
        dayName = dayName || text.compare(0, 3, day) == 0;
    }
    int month = 0;
    for (int i = 0; i < 12; ++i) {
        if (text.compare(8, 3, kMonths[i]) == 0) {
            month = i + 1;
        }
    }
    const int year = ParseFixedDigits(text, 12, 4);
    if (!dayName || month == 0 || year < 0) {
        return std::nullopt;
    }
    return UnixSeconds(year, month, ParseFixedDigits(text, 5, 2), ParseFixedDigits(text, 17, 2),
                       ParseFixedDigits(text, 20, 2), ParseFixedDigits(text, 23, 2));
}

}  // namespace

bool IsRetryable(const TransferOutcome& outcome)
{
    switch (outcome.end) {
    case TransferEnd::TimedOut:
    case TransferEnd::Stalled:
    case TransferEnd::ShortBody:
        return true;
    case TransferEnd::WindowsError:
        return outcome.error == ERROR_INTERNET_CANNOT_CONNECT || outcome.error == ERROR_INTERNET_CONNECTION_ABORTED ||
               outcome.error == ERROR_INTERNET_CONNECTION_RESET || outcome.error == ERROR_INTERNET_TIMEOUT ||
               outcome.error == ERROR_HTTP_INVALID_SERVER_RESPONSE || outcome.error == kWsaConnectionReset ||
               outcome.error == kWsaTimedOut;
    case TransferEnd::HttpStatus:
        return outcome.status == 408 || outcome.status == 429 || outcome.status == 500 || outcome.status == 502 ||
               outcome.status == 503 || outcome.status == 504;
    default:
        return false;
    }
}

std::optional<std::int64_t> ParseRetryAfter(const std::wstring& text, std::int64_t nowSeconds)
{
    if (!text.empty() && text.find_first_not_of(L"0123456789") == std::wstring::npos) {
        // Digits too many to hold are a wait longer than any we make.
        return static_cast<std::int64_t>(ParsePlainDecimal(text, 0x7FFFFFFF).value_or(0x80000000u));
    }
    const std::optional<std::int64_t> date = ParseHttpDate(text);
    if (!date) {
        return std::nullopt;
    }
    return *date > nowSeconds ? *date - nowSeconds : 0;
}

RetryStep NextRetry(const TransferOutcome& failed, std::size_t retriesMade, const std::vector<DWORD>& waitsMs,
                    double jitter, std::int64_t nowSeconds)
{
    RetryStep step;
    if (!IsRetryable(failed) || retriesMade >= waitsMs.size()) {
        return step;
    }
    const double clamped = jitter < -1 ? -1 : (jitter > 1 ? 1 : jitter);
    step.waitMs = static_cast<DWORD>(waitsMs[retriesMade] * (1 + 0.25 * clamped));
    if (failed.status == 429 || failed.status == 503) {
        if (const std::optional<std::int64_t> asked = ParseRetryAfter(failed.retryAfter, nowSeconds)) {
            if (*asked > kLongestRetryAfterSeconds) {
                return RetryStep{};  // the server is away for longer: try again tomorrow
            }
            step.waitMs = static_cast<DWORD>(*asked * 1000);
        }
    }
    step.retry = true;
    return step;
}

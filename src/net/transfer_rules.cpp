#include "net/transfer_rules.h"

#include "build_settings.h"

#include <cwctype>

namespace {

// One sample per this many milliseconds is kept: the stall rule may then fire
// up to one spacing late, never early.
std::uint64_t SampleSpacing(DWORD windowMs) { return windowMs >= 30 ? windowMs / 30 : 1; }

std::wstring SchemeOf(const std::wstring& url)
{
    const std::size_t colon = url.find(L':');
    if (colon == std::wstring::npos || url.compare(colon, 3, L"://") != 0) {
        return std::wstring();
    }
    std::wstring scheme = url.substr(0, colon);
    for (wchar_t& c : scheme) {
        c = static_cast<wchar_t>(std::towlower(c));
    }
    return scheme;
}

bool IsHttpsUrl(const std::wstring& url) { return SchemeOf(url) == L"https"; }

std::wstring Seconds(DWORD ms)
{
    const DWORD whole = ms / 1000;
    const DWORD tenths = (ms % 1000) / 100;
    return std::to_wstring(whole) + (tenths != 0 ? L"." + std::to_wstring(tenths) : std::wstring()) + L" s";
}

}  // namespace

TransferLimits DefaultTransferLimits()
{
    TransferLimits limits;
    limits.timeoutMs = VELMAR_TRANSFER_TIMEOUT_MS;
    limits.stallWindowMs = VELMAR_STALL_WINDOW_MS;
    return limits;
}

TransferLimits ManifestTransferLimits()
{
    TransferLimits limits = DefaultTransferLimits();
    limits.overallMs = VELMAR_MANIFEST_TIME_LIMIT_MS;
    limits.maxBytes = 1024 * 1024;
    return limits;
}

TransferLimits ReportTransferLimits()
{
    TransferLimits limits = DefaultTransferLimits();
    limits.answerMs = VELMAR_REPORT_ANSWER_TIME_LIMIT_MS;
    return limits;
}

std::wstring DescribeTransferEnd(const TransferOutcome& outcome, const TransferLimits& limits)
{
    switch (outcome.end) {
    case TransferEnd::Complete:
        return L"complete";
    case TransferEnd::BadUrl:
        return L"not an http or https URL";
    case TransferEnd::WindowsError:
        return L"Windows error " + std::to_wstring(outcome.error);
    case TransferEnd::TimedOut:
        return L"timed out after " + Seconds(outcome.timeoutMs != 0 ? outcome.timeoutMs : limits.timeoutMs) +
               L" (Windows error " +
               std::to_wstring(outcome.error) + L")";
    case TransferEnd::HttpStatus:
        return L"HTTP status " + std::to_wstring(outcome.status);
    case TransferEnd::ShortBody:
        return L"body length differs from its Content-Length";
    case TransferEnd::BadLength:
        return L"Content-Length is not a decimal number";
    case TransferEnd::WrongLength:
        return L"Content-Length differs from the expected " + std::to_wstring(limits.maxBytes) + L" bytes";
    case TransferEnd::NoLength:
        return L"no Content-Length: a body cut short could not be told from a whole one";
    case TransferEnd::RangeMismatch:
        return L"the partial answer does not continue the bytes kept";
    case TransferEnd::Stalled:
        return L"stalled: under " + std::to_wstring(limits.stallMinBytes) + L" bytes in " +
               Seconds(limits.stallWindowMs);
    case TransferEnd::TooLong:
        return L"over the time limit of " + Seconds(limits.overallMs);
    case TransferEnd::AnswerTooLong:
        return L"no whole answer within " + Seconds(limits.answerMs) + L" of the request";
    case TransferEnd::TooLarge:
        return L"over the size limit of " + std::to_wstring(limits.maxBytes) + L" bytes";
    case TransferEnd::TooManyRedirects:
        return L"more than " + std::to_wstring(limits.maxRedirects) + L" redirects";
    case TransferEnd::RedirectRefused:
        return L"redirect refused";
    case TransferEnd::SourceChanged:
        return L"the file changed while it was sent";
    case TransferEnd::LocalWriteFailed:
        return L"could not store what arrived (Windows error " + std::to_wstring(outcome.error) + L")";
    }
    return L"ended";
}

TransferGuard::TransferGuard(const TransferLimits& limits, std::uint64_t startMs)
    : limits_(limits), startMs_(startMs), stallFromMs_(startMs)
{
    samples_.push_back(Sample{startMs, 0});
}

void TransferGuard::RestartStall(std::uint64_t atMs, std::uint64_t totalBytes)
{
    stallFromMs_ = atMs;
    samples_.assign(1, Sample{atMs, totalBytes});
}

TransferEnd TransferGuard::Check(std::uint64_t nowMs, std::uint64_t totalBytes)
{
    if (limits_.maxBytes != 0 && totalBytes > limits_.maxBytes) {
        return TransferEnd::TooLarge;
    }
    if (limits_.overallMs != 0 && nowMs - startMs_ > limits_.overallMs) {
        return TransferEnd::TooLong;
    }
    if (limits_.answerMs != 0 && answerFromMs_ != 0 && nowMs - answerFromMs_ > limits_.answerMs) {
        return TransferEnd::AnswerTooLong;
    }
    if (limits_.stallWindowMs == 0) {
        return TransferEnd::Complete;
    }
    if (nowMs - samples_.back().ms >= SampleSpacing(limits_.stallWindowMs)) {
        samples_.push_back(Sample{nowMs, totalBytes});
    }
    if (nowMs - stallFromMs_ < limits_.stallWindowMs) {
        return TransferEnd::Complete;
    }
    // The window is (now - window, now]; its baseline is the newest sample at or
    // before its start. An older sample only makes the moved count larger.
    const std::uint64_t windowStart = nowMs - limits_.stallWindowMs;
    while (samples_.size() > 1 && samples_[1].ms <= windowStart) {
        samples_.pop_front();
    }
    return totalBytes - samples_.front().bytes < limits_.stallMinBytes ? TransferEnd::Stalled
                                                                        : TransferEnd::Complete;
}

DWORD TransferGuard::RemainingMs(std::uint64_t nowMs, DWORD cap) const
{
    if (limits_.overallMs == 0) {
        return cap;
    }
    const std::uint64_t end = startMs_ + limits_.overallMs;
    const std::uint64_t left = nowMs < end ? end - nowMs : 1;
    return (cap != 0 && left > cap) ? cap : static_cast<DWORD>(left);
}

namespace {

constexpr DWORD kLargestPiece = 1024 * 1024;

}  // namespace

DWORD PieceSizer::NextRead(DWORD available) const
{
    return available > piece_ ? (available < kLargestPiece ? available : kLargestPiece) : piece_;
}

void PieceSizer::Moved(DWORD asked, DWORD moved, std::uint64_t startMs, std::uint64_t nowMs)
{
    constexpr DWORD kLargest = kLargestPiece;
    constexpr DWORD kSmallest = 1024;
    constexpr std::uint64_t kWindowMs = 500;
    constexpr std::uint64_t kQuickMs = 100;
    if (moved >= asked && nowMs - startMs < kQuickMs) {
        piece_ = piece_ >= kLargest / 2 ? kLargest : piece_ * 2;
    }
    windowBytes_ += moved;
    if (nowMs - markMs_ >= kWindowMs) {
        const std::uint64_t halfSecond = windowBytes_ * kWindowMs / (nowMs - markMs_);
        if (halfSecond < piece_) {
            piece_ = static_cast<DWORD>(halfSecond > kSmallest ? halfSecond : kSmallest);
        }
        markMs_ = nowMs;
        windowBytes_ = 0;
    }
}

bool HasHttpScheme(const std::wstring& url)
{
    const std::wstring scheme = SchemeOf(url);
    return scheme == L"http" || scheme == L"https";
}

bool IsRedirectStatus(DWORD status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool IsAllowedRedirect(const std::wstring& fromUrl, const std::wstring& toUrl)
{
    if (!HasHttpScheme(toUrl)) {
        return false;
    }
    return !IsHttpsUrl(fromUrl) || IsHttpsUrl(toUrl);
}

bool IsCompleteBody(bool lengthAnnounced, std::uint64_t announcedLength, std::uint64_t receivedLength)
{
    return !lengthAnnounced || announcedLength == receivedLength;
}

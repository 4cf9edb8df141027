#include "update/package/resume_rules.h"

#include "base/decimal_text.h"

#include <algorithm>

ResumeDecision DecideResume(const KeptBytes& kept, const ResponseHead* answer)
{
    using Action = ResumeAction;
    if (answer == nullptr) {
        return {kept.bytes > 0 && CanResume(kept) ? Action::Keep : Action::Restart};
    }
    const ResponseHead& head = *answer;
    if (head.status == 206 || head.status == 416) {
        if (kept.bytes == 0) {
            // Nothing was asked for but the whole: a server fault, not a refused resume.
            return {Action::Refuse, head.status == 206 ? TransferEnd::RangeMismatch : TransferEnd::HttpStatus};
        }
        // Without keys a 206 must say its length: a cut could not be told from the end.
        const bool lengthFits = head.contentLength ? *head.contentLength == kept.size - kept.bytes : kept.bound;
        const bool continues =
            head.status == 206 && lengthFits && ContinuesAt(head.contentRange, kept.bytes, kept.size);
        return {continues ? Action::Append : Action::Restart};
    }
    if (head.status != 200) {
        return {Action::Refuse, TransferEnd::HttpStatus};
    }
    // A whole body, used as it comes.
    if (!kept.bound && !head.contentLength) {
        return {Action::Refuse, TransferEnd::NoLength};  // a body cut short could not be told from a whole one
    }
    if (kept.bound && head.contentLength && *head.contentLength != kept.size) {
        return {Action::Refuse, TransferEnd::WrongLength};
    }
    return {Action::Restart};
}

std::wstring ResumeHeaders(std::uint64_t offset, const std::wstring& validator)
{
    std::wstring headers = L"Range: bytes=" + std::to_wstring(offset) + L"-\r\n";
    if (!validator.empty()) {
        headers += L"If-Range: " + validator + L"\r\n";
    }
    return headers;
}

std::wstring ChooseValidator(const std::wstring& etag, const std::wstring& lastModified)
{
    // A weak ETag (W/"...") may match other bytes, so it cannot vouch for a range;
    // one with a control character cannot go into a header line.
    if (etag.size() >= 2 && etag.front() == L'"' && etag.back() == L'"' && IsHeaderSafe(etag)) {
        return etag;
    }
    return IsHeaderSafe(lastModified) ? lastModified : std::wstring();
}

bool ContinuesAt(const std::wstring& contentRange, std::uint64_t offset, std::uint64_t size)
{
    const std::wstring prefix = L"bytes ";
    const std::size_t dash = contentRange.find(L'-');
    const std::size_t slash = contentRange.find(L'/');
    if (contentRange.compare(0, prefix.size(), prefix) != 0 || dash == std::wstring::npos ||
        slash == std::wstring::npos || slash < dash) {
        return false;
    }
    const auto first = ParsePlainDecimal(contentRange.substr(prefix.size(), dash - prefix.size()));
    const auto last = ParsePlainDecimal(contentRange.substr(dash + 1, slash - dash - 1));
    const auto total = ParsePlainDecimal(contentRange.substr(slash + 1));
    return first && last && total && *first == offset && *total == size && *last + 1 == size;
}

bool IsHeaderSafe(const std::wstring& text)
{
    return std::none_of(text.begin(), text.end(), [](wchar_t c) { return c < 0x20 || c == 0x7F; });
}

// How a package download goes on from the bytes an earlier try kept, and what
// each answer does to them: plain values in, a decision out.
#pragma once

#include "net/http_exchange.h"

#include <cstdint>
#include <string>

// What a download keeps of its package.
struct KeptBytes {
    std::uint64_t bytes = 0;  // on disk so far
    std::uint64_t size = 0;   // the whole package's length, as bound or as announced
    bool validator = false;   // they came with a strong ETag or a Last-Modified
    bool bound = false;       // with keys: the manifest's size and SHA-256 check the whole
};

enum class ResumeAction {
    Keep,     // ask for the rest (Range, and If-Range with the validator)
    Append,   // a 206 that continues the kept bytes to the package's end
    Restart,  // from zero, the kept bytes gone: a 200 is taken whole; after a 206
              // that does not continue, or a 416, the request is made again at once
    Refuse,   // end the transfer so (why)
};

struct ResumeDecision {
    ResumeAction action = ResumeAction::Restart;
    TransferEnd why = TransferEnd::Complete;  // Refuse: how the transfer ends
};

// Before a request (answer null), and on the head of each answer. Without
// keys, bytes without a validator are never resumed, and a whole body must
// announce its length; with keys, the bound size and hash judge the whole.
ResumeDecision DecideResume(const KeptBytes& kept, const ResponseHead* answer);

// Whether kept bytes could be resumed at all.
inline bool CanResume(const KeptBytes& kept) { return kept.bound || kept.validator; }

// The Range and If-Range lines that ask for the rest after `offset` bytes.
std::wstring ResumeHeaders(std::uint64_t offset, const std::wstring& validator);
// A validator an If-Range may carry: a strong ETag, else Last-Modified; empty when neither.
std::wstring ChooseValidator(const std::wstring& etag, const std::wstring& lastModified);
// A 206's "bytes <first>-<last>/<total>" continues `offset` of a package of `size` bytes to its end.
bool ContinuesAt(const std::wstring& contentRange, std::uint64_t offset, std::uint64_t size);
// No control character: the text may go into a request header line.
bool IsHeaderSafe(const std::wstring& text);

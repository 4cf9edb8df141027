// The crash report request body: text fields and one file as multipart/form-data,
// on plain values.
#pragma once

#include <cstdint>
#include <map>
#include <string>

// Field names order by their UTF-16 code units taken as unsigned numbers, so the
// parts go out in the same order whatever the platform's wchar_t.
struct FieldNameLess {
    bool operator()(const std::wstring& left, const std::wstring& right) const;
};

// Field name -> value; the body lists the parts in this map's order.
using FormFields = std::map<std::wstring, std::wstring, FieldNameLess>;

// The body length is announced as a DWORD: anything longer would go out
// truncated, so such a body is never sent.
constexpr std::uint64_t kMaxRequestBodyBytes = 0xFFFFFFFFull;
bool FitsOneRequest(std::uint64_t bodyBytes);

// A name must be non-empty and hold only characters 0x20..0x7F other than the
// double quote, since it is written between quotes unescaped. Values are free.
bool ValidateFieldNames(const FormFields& fields);

// 27 hyphens, then the two numbers as 8 upper-case hex digits each: 43 characters.
std::wstring FormatBoundary(unsigned int first, unsigned int second);
// FormatBoundary over two numbers from the system's cryptographic generator;
// empty when it fails (nothing is then sent).
std::wstring MakeBoundary();

// "Content-Type: multipart/form-data; boundary=" + boundary, without CR LF.
std::wstring MakeContentTypeHeader(const std::wstring& boundary);

// The request body is head + the file's bytes + tail; the file is streamed
// between the two, never held in memory.
struct FormFrame {
    std::string head;  // one part per field in map order, then the file part's header lines
    std::string tail;  // CR LF and the closing delimiter
};

// Builds the text around the file: the file part is named filePartName and its
// filename is filePath in UTF-8. False when the boundary, the file path or the
// part name converts to nothing.
bool BuildFormFrame(const FormFields& fields, const std::wstring& filePath, const std::wstring& filePartName,
                    const std::wstring& boundary, FormFrame& frame);

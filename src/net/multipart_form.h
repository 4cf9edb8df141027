// The crash report request body: text fields and one file as multipart/form-data.
// Everything here but ReadWholeFile works on plain values and touches no network.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Field names order by their UTF-16 code units taken as unsigned numbers, so the
// parts go out in the same order whatever the platform's wchar_t.
struct FieldNameLess {
    bool operator()(const std::wstring& left, const std::wstring& right) const;
};

// Field name -> value; the body lists the parts in this map's order.
using FormFields = std::map<std::wstring, std::wstring, FieldNameLess>;

// HttpSendRequestW takes the body length as a DWORD: anything longer would go
// out truncated, so such a body is never sent.
constexpr std::uint64_t kMaxRequestBodyBytes = 0xFFFFFFFFull;
bool FitsOneRequest(std::uint64_t bodyBytes);

// A name must be non-empty and hold only characters 0x20..0x7F other than the
// double quote, since it is written between quotes unescaped. Values are free.
bool ValidateFieldNames(const FormFields& fields);

// 27 hyphens, then the two numbers as 8 upper-case hex digits each: 43 characters.
std::wstring FormatBoundary(unsigned int first, unsigned int second);
// FormatBoundary over the next two values of rand(), the first drawn first.
std::wstring MakeBoundary();

// "Content-Type: multipart/form-data; boundary=" + boundary, without CR LF.
std::wstring MakeContentTypeHeader(const std::wstring& boundary);

// Reads the whole file, opened by its wide path and shared for reading and
// writing (the crashed process may still hold its dump). The vector ends up
// empty when the file cannot be opened or read, is empty, or is longer than
// maxBytes: in every such case there is nothing to send.
void ReadWholeFile(const std::wstring& path, std::vector<char>& bytes, std::uint64_t maxBytes = ~std::uint64_t{0});

// Assembles the request body into `body`: one part per field in map order, then
// the file part named filePartName whose filename is filePath in UTF-8, then the
// closing delimiter. False when there is nothing to send (no file, empty file,
// a body that would not fit one request) or a text converts to nothing; `body`
// is then to be discarded.
bool BuildFormBody(const FormFields& fields, const std::wstring& filePath, const std::wstring& filePartName,
                   const std::wstring& boundary, std::string& body);

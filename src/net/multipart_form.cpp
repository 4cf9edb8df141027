#include "net/multipart_form.h"

#include "base/handle_owner.h"
#include "net/utf8_text.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cwchar>

namespace {

constexpr wchar_t kBoundaryDashes[] = L"---------------------------";
constexpr std::size_t kBoundaryBufferChars = 44;

// ReadFile takes a DWORD count; large pieces keep the number of calls small.
constexpr DWORD kReadPieceBytes = 64u << 20;

void AppendDelimiter(const std::string& boundary, std::string& out)
{
    out += "--";
    out += boundary;
    out += "\r\n";
}

}  // namespace

bool FieldNameLess::operator()(const std::wstring& left, const std::wstring& right) const
{
    return std::lexicographical_compare(left.begin(), left.end(), right.begin(), right.end(),
                                        [](wchar_t a, wchar_t b) {
                                            return static_cast<std::uint16_t>(a) < static_cast<std::uint16_t>(b);
                                        });
}

bool FitsOneRequest(std::uint64_t bodyBytes) { return bodyBytes <= kMaxRequestBodyBytes; }

bool ValidateFieldNames(const FormFields& fields)
{
    for (const auto& field : fields) {
        const std::wstring& name = field.first;
        if (name.empty()) {
            return false;
        }
        for (const wchar_t c : name) {
            const auto unit = static_cast<std::uint16_t>(c);
            if (unit < 0x20 || unit == 0x22 || unit > 0x7F) {
                return false;
            }
        }
    }
    return true;
}

std::wstring FormatBoundary(unsigned int first, unsigned int second)
{
    wchar_t buffer[kBoundaryBufferChars] = {};
    std::swprintf(buffer, kBoundaryBufferChars, L"%ls%08X%08X", kBoundaryDashes, first, second);
    buffer[kBoundaryBufferChars - 1] = L'\0';
    return buffer;
}

std::wstring MakeBoundary()
{
    // Two statements: the draws must happen in a fixed order.
    const unsigned int first = static_cast<unsigned int>(std::rand());
    const unsigned int second = static_cast<unsigned int>(std::rand());
    return FormatBoundary(first, second);
}

std::wstring MakeContentTypeHeader(const std::wstring& boundary)
{
    return L"Content-Type: multipart/form-data; boundary=" + boundary;
}

namespace {

// Appends the file's bytes to out, reading straight into their final place so a
// large dump is held only once. Room for `reserveAfter` more bytes is reserved
// too, so what follows the file does not move it again. On a read error out is
// left as it was.
template <typename Bytes>
void AppendWholeFile(const std::wstring& path, Bytes& out, std::uint64_t maxBytes, std::size_t reserveAfter)
{
    HandleOwner file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.Valid()) {
        return;
    }
    const std::size_t start = out.size();
    LARGE_INTEGER size = {};
    if (!::GetFileSizeEx(file.Get(), &size) || size.QuadPart <= 0 ||
        static_cast<std::uint64_t>(size.QuadPart) > maxBytes ||
        static_cast<std::uint64_t>(size.QuadPart) > out.max_size() - start - reserveAfter) {
        return;
    }
    const std::size_t fileBytes = static_cast<std::size_t>(size.QuadPart);
    out.reserve(start + fileBytes + reserveAfter);
    out.resize(start + fileBytes);
    std::size_t done = 0;
    while (done < fileBytes) {
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(fileBytes - done, kReadPieceBytes));
        DWORD got = 0;
        if (!::ReadFile(file.Get(), &out[start + done], want, &got, nullptr)) {
            out.resize(start);  // half a dump is worth nothing to the server
            return;
        }
        if (got == 0) {
            break;  // the file was cut short while we read it: send what is there
        }
        done += got;
    }
    out.resize(start + done);
}

}  // namespace

void ReadWholeFile(const std::wstring& path, std::vector<char>& bytes, std::uint64_t maxBytes)
{
    bytes.clear();
    AppendWholeFile(path, bytes, maxBytes, 0);
}

bool BuildFormBody(const FormFields& fields, const std::wstring& filePath, const std::wstring& filePartName,
                   const std::wstring& boundary, std::string& body)
{
    const std::string delimiter = Utf8FromWide(boundary);
    const std::string fileName = Utf8FromWide(filePath);
    const std::string partName = Utf8FromWide(filePartName);
    if (delimiter.empty() || fileName.empty() || partName.empty()) {
        return false;
    }

    // The text before and after the file's bytes is built first, so the file is
    // read only when the whole body can go out in one request.
    std::string head;
    for (const auto& field : fields) {
        AppendDelimiter(delimiter, head);
        head += "Content-Disposition: form-data; name=\"";
        head += Utf8FromWide(field.first);
        head += "\"\r\n\r\n";
        head += Utf8FromWide(field.second);
        head += "\r\n";
    }
    AppendDelimiter(delimiter, head);
    head += "Content-Disposition: form-data; name=\"";
    head += partName;
    head += "\"; filename=\"";
    head += fileName;
    head += "\"\r\nContent-Type: application/octet-stream\r\n\r\n";
    const std::string tail = "\r\n--" + delimiter + "--\r\n";

    const std::uint64_t around = static_cast<std::uint64_t>(head.size()) + tail.size();
    if (!FitsOneRequest(around)) {
        return false;
    }
    body = head;
    AppendWholeFile(filePath, body, kMaxRequestBodyBytes - around, tail.size());
    if (body.size() == head.size()) {
        return false;  // missing, unreadable or empty: nothing to send
    }
    body += tail;
    return true;
}

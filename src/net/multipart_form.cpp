#include "net/multipart_form.h"

#include "base/random.h"
#include "base/utf8_text.h"

#include <algorithm>
#include <cwchar>

namespace {

constexpr wchar_t kBoundaryDashes[] = L"---------------------------";
constexpr std::size_t kBoundaryBufferChars = 44;

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
    // Fresh and unpredictable for every report, so no dump can hold its own
    // report's boundary by having held an earlier one.
    std::uint32_t numbers[2] = {};
    if (!RandomBytes(numbers, sizeof numbers)) {
        return std::wstring();
    }
    return FormatBoundary(numbers[0], numbers[1]);
}

std::wstring MakeContentTypeHeader(const std::wstring& boundary)
{
    return L"Content-Type: multipart/form-data; boundary=" + boundary;
}

bool BuildFormFrame(const FormFields& fields, const std::wstring& filePath, const std::wstring& filePartName,
                    const std::wstring& boundary, FormFrame& frame)
{
    const std::string delimiter = Utf8FromWide(boundary);
    const std::string fileName = Utf8FromWide(filePath);
    const std::string partName = Utf8FromWide(filePartName);
    if (delimiter.empty() || fileName.empty() || partName.empty()) {
        return false;
    }
    std::string& head = frame.head;
    head.clear();
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
    frame.tail = "\r\n--" + delimiter + "--\r\n";
    return true;
}

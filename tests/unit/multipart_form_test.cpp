#include "net/multipart_form.h"

#include "base/utf8_text.h"
#include "net/upload_file.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace {

// ---------------------------------------------------------------- field names

struct NameCase {
    const char* label;
    std::vector<std::wstring> names;
    bool valid;
};

class FieldNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(FieldNameTest, Validates)
{
    FormFields fields;
    for (const auto& name : GetParam().names) {
        fields[name] = L"value";
    }
    EXPECT_EQ(GetParam().valid, ValidateFieldNames(fields));
}

INSTANTIATE_TEST_SUITE_P(
    Names, FieldNameTest,
    ::testing::Values(NameCase{"no_fields", {}, true}, NameCase{"plain", {L"name", L"os", L"version1"}, true},
                      NameCase{"space", {L"crash time"}, true}, NameCase{"del_0x7f", {L"a\x7F"}, true},
                      NameCase{"lowest_allowed_0x20", {L" "}, true},
                      NameCase{"punctuation", {L"a;b=c'd/e\\f"}, true}, NameCase{"empty", {L""}, false},
                      NameCase{"quote", {L"a\"b"}, false}, NameCase{"tab", {L"a\tb"}, false},
                      NameCase{"cr_lf", {L"a\r\nb"}, false}, NameCase{"unit_0x1f", {L"\x1F"}, false},
                      NameCase{"unit_0x80", {L"a\x80"}, false}, NameCase{"e_acute", {L"caf\u00E9"}, false},
                      NameCase{"cjk", {L"\u4E2D"}, false},
                      NameCase{"one_bad_among_good", {L"name", L"os\"", L"version1"}, false}),
    [](const ::testing::TestParamInfo<NameCase>& info) { return std::string(info.param.label); });

TEST(FormFieldsOrder, IsAscendingByCodeUnit)
{
    FormFields fields;
    fields[L"version1"] = L"1";
    fields[L"name"] = L"2";
    fields[L"os"] = L"3";
    fields[L"Zeta"] = L"4";  // upper case sorts before lower case
    fields[L"name2"] = L"5";
    std::vector<std::wstring> order;
    for (const auto& field : fields) {
        order.push_back(field.first);
    }
    EXPECT_EQ((std::vector<std::wstring>{L"Zeta", L"name", L"name2", L"os", L"version1"}), order);
}

TEST(FormFieldsOrder, ComparesUnitsAsUnsigned)
{
    FieldNameLess less;
    EXPECT_TRUE(less(L"a", L"\xFFFF"));
    EXPECT_FALSE(less(L"\xFFFF", L"a"));
    EXPECT_TRUE(less(L"\x7F", L"\x8000"));
}

// ------------------------------------------------------------------- boundary

TEST(Boundary, FormatsTwoNumbersAsUpperCaseHex)
{
    EXPECT_EQ(std::wstring(L"---------------------------0000000000000000"), FormatBoundary(0, 0));
    EXPECT_EQ(std::wstring(L"---------------------------00007FFF00000ABC"), FormatBoundary(0x7FFF, 0xABC));
    EXPECT_EQ(std::wstring(L"---------------------------FFFFFFFF00000001"), FormatBoundary(0xFFFFFFFFu, 1));
}

bool HasBoundaryShape(const std::wstring& boundary)
{
    if (boundary.size() != 43 || boundary.compare(0, 27, std::wstring(27, L'-')) != 0) {
        return false;
    }
    for (std::size_t i = 27; i < 43; ++i) {
        const wchar_t c = boundary[i];
        if (!((c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F'))) {
            return false;
        }
    }
    return true;
}

TEST(Boundary, HasItsShapeAndIsDrawnFreshEachTime)
{
    std::set<std::wstring> seen;
    for (int i = 0; i < 200; ++i) {
        const std::wstring boundary = MakeBoundary();
        ASSERT_TRUE(HasBoundaryShape(boundary)) << i;
        seen.insert(boundary);
    }
    EXPECT_EQ(200u, seen.size());
}

TEST(Boundary, HeaderLineCarriesIt)
{
    const std::wstring boundary = L"---------------------------0000002900004823";
    EXPECT_EQ(std::wstring(L"Content-Type: multipart/form-data; boundary=---------------------------0000002900004823"),
              MakeContentTypeHeader(boundary));
}

// ----------------------------------------------------------- the file, streamed

// Everything SendFileBytes hands on, with the largest piece seen.
struct Sent {
    bool opened = false;
    bool ok = false;
    TransferEnd why = TransferEnd::Complete;
    std::string bytes;
    DWORD largestPiece = 0;
};

Sent SendWholeFile(const std::wstring& path, const std::function<bool(std::string&)>& onPiece = nullptr)
{
    Sent sent;
    std::uint64_t size = 0;
    const HandleOwner file = OpenUploadFile(path, size);
    sent.opened = file.Valid();
    if (!sent.opened) {
        return sent;
    }
    DWORD error = 0;
    sent.ok = SendFileBytes(
        file.Get(), size,
        [&](const char* data, DWORD count) {
            sent.bytes.append(data, count);
            sent.largestPiece = std::max(sent.largestPiece, count);
            return onPiece ? onPiece(sent.bytes) : true;
        },
        sent.why, error);
    return sent;
}

TEST(UploadFile, SendsEveryByteUnchangedInPiecesOfAtMost1MiB)
{
    ScratchFolder folder;
    std::string bytes("MDMP\0\r\n\n\r\x1A\xFF\x80 end", 16);
    for (int i = 0; bytes.size() < 2500000; ++i) {
        bytes += static_cast<char>(i * 7);
    }
    const Sent sent = SendWholeFile(folder.Write(L"binary.dmp", bytes));
    EXPECT_TRUE(sent.ok);
    EXPECT_TRUE(sent.bytes == bytes);
    EXPECT_EQ(1024u * 1024u, sent.largestPiece);
}

TEST(UploadFile, NothingToSendWhenMissingEmptyOrAFolder)
{
    ScratchFolder folder;
    for (const std::wstring& path :
         {folder.Missing(L"absent.dmp"), folder.Write(L"empty.dmp", ""), folder.Path(), std::wstring()}) {
        std::uint64_t size = 99;
        EXPECT_FALSE(OpenUploadFile(path, size).Valid()) << std::string(path.begin(), path.end());
        EXPECT_EQ(0u, size);
    }
}

TEST(UploadFile, ReadsAFileStillOpenForWritingAndAPathBeyondAscii)
{
    ScratchFolder folder(L"\u4E2D\u6587");
    const std::wstring path = folder.Write(L"\u00E9t\u00E9.dmp", "still written");
    HandleOwner writer(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(writer.Valid());
    EXPECT_EQ("still written", SendWholeFile(path).bytes);
}

TEST(UploadFile, AFileThatChangesWhileSentIsNeverSentCut)
{
    // The crashed process may still write its dump: the announced length was
    // taken at the start, so a file that shrinks or grows must stop the request.
    const struct {
        const char* label;
        LONGLONG newSize;  // set through another handle after the first piece; -1: leave it
        bool refuse;       // the sender refuses the first piece
        bool ok;
        TransferEnd why;
    } cases[] = {
        {"unchanged", -1, false, true, TransferEnd::Complete},
        {"shrinks", 1024 * 1024 + 10, false, false, TransferEnd::SourceChanged},
        {"grows", 4 * 1024 * 1024, false, false, TransferEnd::SourceChanged},
        {"sender_refuses", -1, true, false, TransferEnd::Complete},
    };
    for (const auto& c : cases) {
        ScratchFolder folder;
        const std::wstring path = folder.Write(L"live.dmp", std::string(3 * 1024 * 1024, 'd'));
        const Sent sent = SendWholeFile(path, [&](std::string& soFar) {
            if (soFar.size() == 1024 * 1024 && c.newSize >= 0) {
                HandleOwner other(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                nullptr, OPEN_EXISTING, 0, nullptr));
                LARGE_INTEGER size = {};
                size.QuadPart = c.newSize;
                EXPECT_TRUE(::SetFilePointerEx(other.Get(), size, nullptr, FILE_BEGIN) && ::SetEndOfFile(other.Get()));
            }
            return !c.refuse;
        });
        EXPECT_EQ(c.ok, sent.ok) << c.label;
        EXPECT_EQ(c.why, sent.why) << c.label;
        EXPECT_LE(sent.bytes.size(), 3u * 1024 * 1024) << c.label;
    }
}

// ---------------------------------------------------------------- 4 GiB rule

TEST(BodyLimit, OneRequestCarriesLessThan4GiB)
{
    const struct {
        std::uint64_t size;
        bool fits;
    } cases[] = {{0, true},
                 {1, true},
                 {0xFFFFFFFFull, true},
                 {0x100000000ull, false},
                 {0x100000001ull, false},
                 {0x2FFFFFFFFull, false},
                 {~std::uint64_t{0}, false}};
    for (const auto& c : cases) {
        EXPECT_EQ(c.fits, FitsOneRequest(c.size)) << c.size;
    }
}

// ----------------------------------------------------------------- form body

// The body as it goes out: the frame around the file's bytes.
bool BuildFormBody(const FormFields& fields, const std::wstring& filePath, const std::wstring& filePartName,
                   const std::wstring& boundary, std::string& body)
{
    FormFrame frame;
    std::uint64_t size = 0;
    if (!BuildFormFrame(fields, filePath, filePartName, boundary, frame) || !OpenUploadFile(filePath, size).Valid()) {
        return false;
    }
    body = frame.head + ReadFileBytes(filePath) + frame.tail;
    return true;
}

const std::wstring kBoundary = L"---------------------------0000002900004823";
const std::string kDelimiter = "-----------------------------0000002900004823";  // "--" + boundary

std::string FilePart(const std::string& fileNameUtf8, const std::string& contents)
{
    return kDelimiter + "\r\nContent-Disposition: form-data; name=\"dump_file\"; filename=\"" + fileNameUtf8 +
           "\"\r\nContent-Type: application/octet-stream\r\n\r\n" + contents + "\r\n" + kDelimiter + "--\r\n";
}

TEST(FormBody, ByteForByteForTheCrashReportFields)
{
    ScratchFolder folder;
    const std::string dump("MDMP\0\x01\r\n\xFF", 9);
    const std::wstring path = folder.Write(L"crash.dmp", dump);
    FormFields fields;
    fields[L"version1"] = L"1.2.3.4";
    fields[L"name"] = L"Orvanta Velmar";
    fields[L"os"] = L"win10";
    std::string body = "stale";
    ASSERT_TRUE(BuildFormBody(fields, path, L"dump_file", kBoundary, body));
    const std::string expected = kDelimiter +
                                 "\r\nContent-Disposition: form-data; name=\"name\"\r\n\r\nOrvanta Velmar\r\n" +
                                 kDelimiter + "\r\nContent-Disposition: form-data; name=\"os\"\r\n\r\nwin10\r\n" +
                                 kDelimiter +
                                 "\r\nContent-Disposition: form-data; name=\"version1\"\r\n\r\n1.2.3.4\r\n" +
                                 FilePart(Utf8FromWide(path), dump);
    EXPECT_EQ(expected, body);
    // The file name is the whole path as given, backslashes and all.
    EXPECT_NE(std::string::npos, body.find("filename=\"C:\\"));
}

TEST(FormBody, EmptyFieldSetHoldsOnlyTheFilePart)
{
    ScratchFolder folder;
    const std::wstring path = folder.Write(L"d.dmp", "xyz");
    std::string body;
    ASSERT_TRUE(BuildFormBody(FormFields(), path, L"dump_file", kBoundary, body));
    EXPECT_EQ(FilePart(Utf8FromWide(path), "xyz"), body);
}

TEST(FormBody, EmptyValueKeepsBothRows)
{
    ScratchFolder folder;
    const std::wstring path = folder.Write(L"d.dmp", "1");
    FormFields fields;
    fields[L"os"] = L"";
    std::string body;
    ASSERT_TRUE(BuildFormBody(fields, path, L"dump_file", kBoundary, body));
    EXPECT_EQ(kDelimiter + "\r\nContent-Disposition: form-data; name=\"os\"\r\n\r\n\r\n" +
                  FilePart(Utf8FromWide(path), "1"),
              body);
}

TEST(FormBody, ValuesAreCopiedUnescapedAsUtf8)
{
    ScratchFolder folder;
    const std::wstring path = folder.Write(L"d.dmp", "1");
    FormFields fields;
    fields[L"a"] = L"line1\r\nline2 \"quoted\"";
    fields[L"b"] = L"\u4E2D\u6587 caf\u00E9 \xD83D\xDE00";
    std::string body;
    ASSERT_TRUE(BuildFormBody(fields, path, L"dump_file", kBoundary, body));
    EXPECT_EQ(kDelimiter + "\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\nline1\r\nline2 \"quoted\"\r\n" +
                  kDelimiter + "\r\nContent-Disposition: form-data; name=\"b\"\r\n\r\n" +
                  "\xE4\xB8\xAD\xE6\x96\x87 caf\xC3\xA9 \xF0\x9F\x98\x80\r\n" + FilePart(Utf8FromWide(path), "1"),
              body);
}

TEST(FormBody, PathBeyondAsciiIsTheUtf8FileName)
{
    ScratchFolder folder(L"\u4E2D\u6587");
    const std::wstring path = folder.Write(L"crash.dmp", "dump");
    std::string body;
    ASSERT_TRUE(BuildFormBody(FormFields(), path, L"dump_file", kBoundary, body));
    EXPECT_NE(std::string::npos, body.find("\\\xE4\xB8\xAD\xE6\x96\x87\\crash.dmp\"\r\n"));
    EXPECT_EQ(FilePart(Utf8FromWide(path), "dump"), body);
}

TEST(FormBody, NothingToSendGivesFalse)
{
    ScratchFolder folder;
    const std::wstring good = folder.Write(L"d.dmp", "1");
    const std::wstring empty = folder.Write(L"empty.dmp", "");
    std::string body;
    EXPECT_FALSE(BuildFormBody(FormFields(), folder.Missing(L"absent.dmp"), L"dump_file", kBoundary, body));
    EXPECT_FALSE(BuildFormBody(FormFields(), empty, L"dump_file", kBoundary, body));
    EXPECT_FALSE(BuildFormBody(FormFields(), L"", L"dump_file", kBoundary, body));
    EXPECT_FALSE(BuildFormBody(FormFields(), good, L"", kBoundary, body));
    EXPECT_FALSE(BuildFormBody(FormFields(), good, L"dump_file", L"", body));
    // The same file goes through once every piece is there.
    EXPECT_TRUE(BuildFormBody(FormFields(), good, L"dump_file", kBoundary, body));
}

}  // namespace

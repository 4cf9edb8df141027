// The uploader against the local servers that tests/unit/with_test_servers.py
// starts around this executable; their ports come in the environment.
#include "net/http_upload.h"

#include "base/process_launch.h"
#include "test_files.h"

#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cwchar>
#include <string>
#include <vector>

namespace {

// ---------------------------------------------------------- local servers

std::wstring Environment(const wchar_t* name)
{
    wchar_t value[512] = {};
    const DWORD size = ::GetEnvironmentVariableW(name, value, 512);
    if (size == 0 || size >= 512) {
        ADD_FAILURE() << "environment variable not set; run through tests/unit/with_test_servers.py";
        return std::wstring();
    }
    return value;
}

std::wstring UrlOf(const wchar_t* portVariable, const wchar_t* scheme = L"http", const wchar_t* host = L"127.0.0.1")
{
    return std::wstring(scheme) + L"://" + host + L":" + Environment(portVariable) + L"/index.php?do=adderrorlog";
}

FormFields ReportFields()
{
    FormFields fields;
    fields[L"name"] = L"Orvanta Velmar";
    fields[L"os"] = L"\u4E2D\u6587";
    fields[L"version1"] = L"1.2.3.4";
    return fields;
}

// The JSON answer of the error-log server numbers each connection it accepted.
long ConnectionNumber(const std::wstring& answer)
{
    const std::wstring key = L"\"connection\": ";
    const std::size_t at = answer.find(key);
    return at == std::wstring::npos ? -1 : std::wcstol(answer.c_str() + at + key.size(), nullptr, 10);
}

class HttpUpload : public ::testing::Test {
protected:
    ScratchFolder folder_;
    std::wstring dump_ = folder_.Write(L"crash.dmp", std::string("MDMP\0\x01\r\n", 8) + std::string(5000, 'd'));
};

TEST_F(HttpUpload, OnlyA200AnswerIsSuccessAndOnlyThenIsItRead)
{
    const struct {
        const wchar_t* port;
        bool uploaded;
        int status;
    } cases[] = {{L"VELMAR_TEST_HTTP_PORT", true, 200}, {L"VELMAR_TEST_CREATED_PORT", false, 201}};
    for (const auto& c : cases) {
        std::wstring answer = L"keep";
        int status = -1;
        EXPECT_EQ(c.uploaded, PostMultipartForm(UrlOf(c.port), ReportFields(), dump_, L"dump_file", std::nullopt,
                                                &answer, &status));
        EXPECT_EQ(c.status, status);
        if (!c.uploaded) {
            EXPECT_EQ(std::wstring(L"keep"), answer);
            continue;
        }
        // The server echoes what it parsed: the value arrived as UTF-8 and came back decoded.
        EXPECT_NE(std::wstring::npos, answer.find(L"\"os\": \"\u4E2D\u6587\"")) << answer;
        EXPECT_NE(std::wstring::npos, answer.find(L"\"part_order\": [\"name\", \"os\", \"version1\", \"dump_file\"]"));
        EXPECT_NE(std::wstring::npos, answer.find(L"\"size\": 5008,"));
        EXPECT_NE(std::wstring::npos, answer.find(L"\"user_agent\": \"VelmarCrashReport/1.0 (Windows)\""));
        EXPECT_GT(ConnectionNumber(answer), 0);
    }
    // Both outputs are optional.
    EXPECT_TRUE(PostMultipartForm(UrlOf(L"VELMAR_TEST_HTTP_PORT"), ReportFields(), dump_, L"dump_file",
                                  std::nullopt, nullptr, nullptr));
}

TEST_F(HttpUpload, RejectedInputsSendNothing)
{
    const std::wstring url = UrlOf(L"VELMAR_TEST_HTTP_PORT");
    std::wstring answer;
    ASSERT_TRUE(PostMultipartForm(url, ReportFields(), dump_, L"dump_file", std::nullopt, &answer, nullptr));
    const long before = ConnectionNumber(answer);

    FormFields badName = ReportFields();
    badName[L"tab\there"] = L"x";
    FormFields nonAscii = ReportFields();
    nonAscii[L"caf\u00E9"] = L"x";
    const std::wstring port = Environment(L"VELMAR_TEST_HTTP_PORT");
    const std::wstring longPath = L"http://127.0.0.1:" + port + L"/index.php?do=" + std::wstring(242, L'a');
    ASSERT_EQ(256u, longPath.size() - longPath.find(L"/index")) << "path with query one past the limit";
    const struct {
        const char* label;
        std::wstring url;
        FormFields fields;
        std::wstring file;
    } cases[] = {
        {"quote_in_name", url, FormFields{{L"a\"b", L"x"}}, dump_},
        {"tab_in_name", url, badName, dump_},
        {"name_above_0x7f", url, nonAscii, dump_},
        {"empty_name", url, FormFields{{L"", L"x"}}, dump_},
        {"upper_case_scheme", L"HTTP://127.0.0.1:" + port + L"/index.php?do=adderrorlog", ReportFields(), dump_},
        {"mixed_case_scheme", L"Http://127.0.0.1:" + port + L"/index.php?do=adderrorlog", ReportFields(), dump_},
        {"ftp_scheme", L"ftp://127.0.0.1:" + port + L"/index.php?do=adderrorlog", ReportFields(), dump_},
        {"path_of_256", longPath, ReportFields(), dump_},
        {"not_a_url", L"index.php?do=adderrorlog", ReportFields(), dump_},
        {"missing_file", url, ReportFields(), folder_.Missing(L"absent.dmp")},
        {"empty_file", url, ReportFields(), folder_.Write(L"empty.dmp", "")},
        {"empty_path", url, ReportFields(), L""},
    };
    for (const auto& c : cases) {
        std::wstring kept = L"keep";
        int status = 77;
        EXPECT_FALSE(PostMultipartForm(c.url, c.fields, c.file, L"dump_file", std::nullopt, &kept, &status))
            << c.label;
        EXPECT_EQ(0, status) << c.label;
        EXPECT_EQ(std::wstring(L"keep"), kept) << c.label;
    }

    // Only the next good request reached the server.
    ASSERT_TRUE(PostMultipartForm(url, ReportFields(), dump_, L"dump_file", std::nullopt, &answer, nullptr));
    EXPECT_EQ(before + 1, ConnectionNumber(answer));
}

TEST_F(HttpUpload, PathOf255CharactersStillGoesOut)
{
    const std::wstring port = Environment(L"VELMAR_TEST_HTTP_PORT");
    const std::wstring url = L"http://127.0.0.1:" + port + L"/index.php?do=" + std::wstring(241, L'a');
    ASSERT_EQ(255u, url.size() - url.find(L"/index"));
    EXPECT_TRUE(PostMultipartForm(url, ReportFields(), dump_, L"dump_file", std::nullopt, nullptr, nullptr));
}

TEST_F(HttpUpload, RefusedConnectionFailsWithStatus0)
{
    int status = 77;
    EXPECT_FALSE(PostMultipartForm(UrlOf(L"VELMAR_TEST_CLOSED_PORT"), ReportFields(), dump_, L"dump_file",
                                   std::nullopt, nullptr, &status));
    EXPECT_EQ(0, status);
}

TEST_F(HttpUpload, TimeOutEndsAStalledAnswer)
{
    int status = 77;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(PostMultipartForm(UrlOf(L"VELMAR_TEST_STALL_PORT"), ReportFields(), dump_, L"dump_file", 1500,
                                   nullptr, &status));
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started).count();
    EXPECT_EQ(0, status);
    EXPECT_LT(seconds, 15) << "the server stalls for 60 s; the time-out must end the wait first";
}

// ---------------------------------------------------------------------- TLS

class RootCertificate {
public:
    explicit RootCertificate(const std::wstring& derPath)
    {
        HANDLE file = ::CreateFileW(derPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            ADD_FAILURE() << "cannot open the test CA";
            return;
        }
        std::vector<BYTE> der(16384);
        DWORD read = 0;
        ::ReadFile(file, der.data(), static_cast<DWORD>(der.size()), &read, nullptr);
        ::CloseHandle(file);
        store_ = ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
        if (store_ == nullptr || !::CertAddEncodedCertificateToStore(store_, X509_ASN_ENCODING, der.data(), read,
                                                                      CERT_STORE_ADD_REPLACE_EXISTING, &added_)) {
            ADD_FAILURE() << "cannot add the test CA to the Root store: " << ::GetLastError();
        }
        // The registry-backed store writes at commit; the chain engine reads the registry.
        EXPECT_TRUE(::CertControlStore(store_, 0, CERT_STORE_CTRL_COMMIT, nullptr));
    }
    ~RootCertificate()
    {
        if (added_ != nullptr) {
            ::CertDeleteCertificateFromStore(added_);  // also frees the context
            ::CertControlStore(store_, 0, CERT_STORE_CTRL_COMMIT, nullptr);
        }
        if (store_ != nullptr) {
            ::CertCloseStore(store_, 0);
        }
    }
    RootCertificate(const RootCertificate&) = delete;
    RootCertificate& operator=(const RootCertificate&) = delete;

private:
    HCERTSTORE store_ = nullptr;
    PCCERT_CONTEXT added_ = nullptr;
};

// Runs tests/tools/https_post.exe (built beside this test) and returns its exit code.
DWORD PostInFreshProcess(const std::wstring& url, const std::wstring& dump)
{
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring tool(self);
    tool.replace(tool.rfind(L'\\') + 1, std::wstring::npos, L"https_post.exe");
    const ProcessRun run =
        RunProcessAndWait(tool.c_str(), L"\"" + tool + L"\" \"" + url + L"\" \"" + dump + L"\"", 0, 60000);
    EXPECT_TRUE(run.ended) << "https_post.exe: error " << run.error;
    return run.ended ? run.exitCode : 255;
}

TEST_F(HttpUpload, HttpsNeedsATrustedCertificate)
{
    const std::wstring url = UrlOf(L"VELMAR_TEST_TLS_PORT", L"https", L"localhost");
    std::wstring answer = L"keep";
    int status = 77;
    EXPECT_FALSE(PostMultipartForm(url, ReportFields(), dump_, L"dump_file", 10000, &answer, &status));
    EXPECT_EQ(0, status);
    EXPECT_EQ(std::wstring(L"keep"), answer);
    {
        RootCertificate trusted(Environment(L"VELMAR_TEST_CA_DER"));
        EXPECT_EQ(1200u, PostInFreshProcess(url, dump_)) << "uploaded (1000) with status 200";
        // Plain http to the TLS port is no way round it.
        EXPECT_EQ(0u, PostInFreshProcess(UrlOf(L"VELMAR_TEST_TLS_PORT", L"http", L"localhost"), dump_));
    }
    // Once the CA is gone again, so is the trust: it came from the store only.
    EXPECT_EQ(0u, PostInFreshProcess(url, dump_));
}

}  // namespace

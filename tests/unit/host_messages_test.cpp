#include "update/host_messages.h"

#include "host_window_recorder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <string>

namespace {

class HostMessagesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_hHostWnd = host.Window();
        g_nHostParam = 0;
    }
    void TearDown() override
    {
        g_hHostWnd = nullptr;
        g_nHostParam = 0;
    }

    // The text, then zeros to the end of all 520 bytes.
    void ExpectWholeBuffer(const RecordedCopyData& message, const std::wstring& text)
    {
        EXPECT_EQ(12u, message.dwData);
        EXPECT_EQ(520u, message.cbData);
        ASSERT_EQ(520u, message.bytes.size());
        EXPECT_EQ(text, message.Text());
        for (std::size_t i = text.size() * 2; i < message.bytes.size(); ++i) {
            ASSERT_EQ(0, message.bytes[i]) << "byte " << i << " after \"" << std::string(text.begin(), text.end())
                                           << "\"";
        }
    }

    HostWindowRecorder host;
};

struct NotifyCase {
    const char* label;
    std::function<void()> send;
    std::wstring text;
};

TEST_F(HostMessagesTest, EachNotificationSendsItsTextZeroFilled)
{
    const std::wstring longest(241, L'7');  // "OnUpdateAvailable;" + 241 = 259: fits whole
    const NotifyCase cases[] = {
        {"checking", [] { NotifyCheckingForUpdate(); }, L"OnCheckingForUpdate"},
        {"available", [] { NotifyUpdateAvailable(L"2.0.0.7"); }, L"OnUpdateAvailable;2.0.0.7"},
        {"available_empty", [] { NotifyUpdateAvailable(L""); }, L"OnUpdateAvailable;"},
        {"available_241", [&] { NotifyUpdateAvailable(longest.c_str()); }, L"OnUpdateAvailable;" + longest},
        {"installing", [] { NotifyInstalling(); }, L"OnInstalling"},
        {"complete_1", [] { NotifyComplete(1); }, L"OnComplete;1;"},
        {"complete_3", [] { NotifyComplete(3); }, L"OnComplete;3;"},
        {"complete_min", [] { NotifyComplete(std::numeric_limits<std::int32_t>::min()); },
         L"OnComplete;-2147483648;"},
    };
    for (const NotifyCase& c : cases) {
        SCOPED_TRACE(c.label);
        host.messages.clear();
        c.send();
        ASSERT_EQ(1u, host.messages.size());
        ExpectWholeBuffer(host.messages[0], c.text);
    }
}

TEST_F(HostMessagesTest, LongVersionIsCutAt259Characters)
{
    std::wstring version;
    for (int i = 0; i < 30; ++i) {
        version += L"0123456789";  // 300 characters, each position recognisable
    }
    for (std::size_t length : {242u, 300u}) {
        SCOPED_TRACE(length);
        host.messages.clear();
        NotifyUpdateAvailable(version.substr(0, length).c_str());
        ASSERT_EQ(1u, host.messages.size());
        const std::wstring expected = L"OnUpdateAvailable;" + version.substr(0, 241);
        ASSERT_EQ(259u, expected.size());
        ExpectWholeBuffer(host.messages[0], expected);
    }
}

TEST_F(HostMessagesTest, WParamIsTheHostParamSignExtended)
{
    const std::int32_t params[] = {0, 7, -1, std::numeric_limits<std::int32_t>::min(),
                                   std::numeric_limits<std::int32_t>::max()};
    for (std::int32_t param : params) {
        SCOPED_TRACE(param);
        host.messages.clear();
        g_nHostParam = param;
        NotifyCheckingForUpdate();
        NotifyUpdateAvailable(L"1.0.0.1");
        NotifyInstalling();
        NotifyComplete(1);
        ASSERT_EQ(4u, host.messages.size());
        for (const RecordedCopyData& message : host.messages) {
            EXPECT_EQ(static_cast<long long>(param), message.wParam);
        }
    }
    g_nHostParam = -1;
    host.messages.clear();
    NotifyInstalling();
    ASSERT_EQ(1u, host.messages.size());
    EXPECT_EQ(~0ull, static_cast<unsigned long long>(host.messages[0].wParam));
}

TEST_F(HostMessagesTest, SendHostMessageReturnsTheWindowsReply)
{
    wchar_t text[kHostTextChars] = {L'x'};
    host.reply = 77;
    EXPECT_EQ(77, SendHostMessage(text));
    ASSERT_EQ(1u, host.messages.size());
    ExpectWholeBuffer(host.messages[0], L"x");
}

TEST_F(HostMessagesTest, NoHostWindowSendsNowhere)
{
    g_hHostWnd = nullptr;
    g_nHostParam = 5;
    wchar_t text[kHostTextChars] = {L'x'};
    EXPECT_EQ(0, SendHostMessage(text));
    NotifyCheckingForUpdate();
    NotifyUpdateAvailable(L"1.0.0.1");
    NotifyInstalling();
    NotifyComplete(3);
    EXPECT_TRUE(host.messages.empty());
    // Nothing else changed: the values stay as they were, and a host set later hears.
    EXPECT_EQ(nullptr, g_hHostWnd);
    EXPECT_EQ(5, g_nHostParam);
    g_hHostWnd = host.Window();
    NotifyComplete(1);
    ASSERT_EQ(1u, host.messages.size());
    EXPECT_EQ(5, host.messages[0].wParam);
}

}  // namespace

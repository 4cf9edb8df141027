#include "update/check_schedule.h"

#include <windows.h>
#include <shlwapi.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr wchar_t kKey[] = L"Software\\Orvanta Velmar\\Velmar";
constexpr std::int64_t kDay = 86400;
constexpr std::int64_t kNow = 1700000000;

// The machine as the schedule sees it, for tests that must not touch the real one.
struct FakeMachine {
    BOOL connectedResult = TRUE;
    DWORD connectedFlags = INTERNET_CONNECTION_LAN;
    DWORD flagsOnEntry = 0xDEAD;
    int connectionQueries = 0;

    std::int64_t now = kNow;
    int clockReads = 0;

    // What the registry holds: status, type and bytes (read only on success).
    LONG readStatus = ERROR_FILE_NOT_FOUND;
    DWORD valueType = REG_NONE;
    std::vector<unsigned char> valueBytes;
    int registryReads = 0;

    std::vector<DWORD> writes;
};
FakeMachine g_fake;

BOOL FakeConnectedState(DWORD* flags)
{
    ++g_fake.connectionQueries;
    g_fake.flagsOnEntry = *flags;
    *flags = g_fake.connectedFlags;
    return g_fake.connectedResult;
}

std::int64_t FakeTime()
{
    ++g_fake.clockReads;
    return g_fake.now;
}

std::optional<RegistryValue> FakeRead()
{
    ++g_fake.registryReads;
    if (g_fake.readStatus != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return RegistryValue{g_fake.valueType, g_fake.valueBytes};
}

void FakeWrite(DWORD value) { g_fake.writes.push_back(value); }

std::vector<unsigned char> DwordBytes(std::uint32_t value)
{
    return {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
            static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
}

class CheckScheduleTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_fake = FakeMachine();
        SetCheckScheduleCalls(CheckScheduleCalls{&FakeConnectedState, &FakeTime, &FakeRead, &FakeWrite});
    }
    void TearDown() override { SetCheckScheduleCalls(RealCheckScheduleCalls()); }

    void StoreDword(std::uint32_t value)
    {
        g_fake.readStatus = ERROR_SUCCESS;
        g_fake.valueType = REG_DWORD;
        g_fake.valueBytes = DwordBytes(value);
    }
};

TEST_F(CheckScheduleTest, ConnectionStateTable)
{
    const struct {
        BOOL result;
        DWORD flags;
        bool connected;
    } cases[] = {
        {TRUE, INTERNET_CONNECTION_MODEM, true},
        {TRUE, INTERNET_CONNECTION_LAN, true},
        {TRUE, INTERNET_CONNECTION_PROXY, true},
        {TRUE, 0x12, true},  // LAN plus RAS installed: Wine's usual answer
        {TRUE, 0x47, true},
        {FALSE, INTERNET_CONNECTION_LAN, false},  // a failed query is offline, whatever the flags
        {FALSE, 0, false},
        {TRUE, INTERNET_CONNECTION_OFFLINE, false},
        {TRUE, INTERNET_CONNECTION_OFFLINE | INTERNET_CONNECTION_LAN, false},
        {TRUE, INTERNET_CONNECTION_OFFLINE | INTERNET_CONNECTION_MODEM, false},  // the offline bit wins
        {FALSE, 0x30, false},  // Wine without a network
        {TRUE, 0, false},
        {TRUE, INTERNET_RAS_INSTALLED, false},
        {TRUE, INTERNET_CONNECTION_CONFIGURED, false},
        {TRUE, 0xFFFFFFF8u & ~static_cast<DWORD>(INTERNET_CONNECTION_OFFLINE), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "result " << c.result << " flags 0x" << std::hex << c.flags);
        g_fake = FakeMachine();
        g_fake.connectedResult = c.result;
        g_fake.connectedFlags = c.flags;
        EXPECT_EQ(c.connected, IsInternetConnected());
        EXPECT_EQ(0u, g_fake.flagsOnEntry) << "flags word cleared before the query";

        // Offline: not due, and neither the clock nor the registry is consulted.
        g_fake.registryReads = 0;
        g_fake.clockReads = 0;
        EXPECT_EQ(c.connected ? 1 : 0, IsUpdateCheckDue());  // no stored value: due when online
        EXPECT_EQ(c.connected ? 1 : 0, g_fake.registryReads);
        if (!c.connected) {
            EXPECT_EQ(0, g_fake.clockReads);
        }
    }
}

TEST_F(CheckScheduleTest, StoredTimeTable)
{
    const struct {
        const char* label;
        std::int64_t now;
        std::uint32_t stored;
        int due;
    } cases[] = {
        {"exactly_a_day", kNow, static_cast<std::uint32_t>(kNow - kDay), 0},
        {"a_day_and_a_second", kNow, static_cast<std::uint32_t>(kNow - kDay - 1), 1},
        {"just_now", kNow, static_cast<std::uint32_t>(kNow), 0},
        {"a_second_ago", kNow, static_cast<std::uint32_t>(kNow - 1), 0},
        {"a_second_ahead", kNow, static_cast<std::uint32_t>(kNow + 1), 1},
        {"far_ahead", kNow, 0xFFFFFFFFu, 1},
        {"zero_at_one_day", kDay, 0, 0},
        {"zero_past_one_day", kDay + 1, 0, 1},
        // Read back zero-extended: a stamp above 2^31 is a late date, not a negative one.
        {"high_bit_stamp_recent", 0xFFFFFFFFLL + 10, 0xFFFFFFFFu, 0},
        {"high_bit_stamp_exact_day", 0x80000000LL + kDay, 0x80000000u, 0},
        // Past 2106 the 32-bit stamp no longer matches the clock: always due.
        {"after_2106", 0x100000000LL + 5, 5, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        g_fake.now = c.now;
        StoreDword(c.stored);
        EXPECT_EQ(c.due, IsUpdateCheckDue());
    }
}

TEST_F(CheckScheduleTest, SaveWritesTheLow32BitsOfNow)
{
    for (std::int64_t now : {kNow, 0xFFFFFFFFLL, 0x123456789LL}) {
        g_fake.now = now;
        SaveLastCheckTime();
    }
    EXPECT_EQ((std::vector<DWORD>{static_cast<DWORD>(kNow), 0xFFFFFFFFu, 0x23456789u}), g_fake.writes);
    EXPECT_EQ(0, g_fake.connectionQueries);
    EXPECT_EQ(0, g_fake.registryReads);
}

// The real registry of the test prefix; only the network and the clock are faked.
class CheckScheduleRegistryTest : public CheckScheduleTest {
protected:
    void SetUp() override
    {
        g_fake = FakeMachine();
        CheckScheduleCalls calls = RealCheckScheduleCalls();
        calls.getConnectedState = &FakeConnectedState;
        calls.currentTime = &FakeTime;
        SetCheckScheduleCalls(calls);
        ::SHDeleteKeyW(HKEY_CURRENT_USER, kKey);
    }
    void TearDown() override
    {
        ::SHDeleteKeyW(HKEY_CURRENT_USER, kKey);
        CheckScheduleTest::TearDown();
    }

    static void SetValue(DWORD type, const std::vector<unsigned char>& bytes)
    {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                                   &key, nullptr));
        ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(key, L"LastTimeCheck", 0, type, bytes.data(),
                                                  static_cast<DWORD>(bytes.size())));
        ::RegCloseKey(key);
    }
};

TEST_F(CheckScheduleRegistryTest, AnythingButAFourByteDwordCountsAsZero)
{
    // At this time a stamp of 0 makes a check due, while the bytes 39 00 00 00
    // taken as a number (57) would not.
    g_fake.now = 57 + kDay;
    EXPECT_EQ(1, IsUpdateCheckDue()) << "no key";

    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr));
    ::RegCloseKey(key);
    EXPECT_EQ(1, IsUpdateCheckDue()) << "key without the value";

    SetValue(REG_DWORD, {0x39, 0, 0, 0});
    EXPECT_EQ(0, IsUpdateCheckDue()) << "REG_DWORD 57";
    const struct {
        const char* label;
        DWORD type;
        std::vector<unsigned char> bytes;
    } unreadable[] = {
        {"REG_SZ \"9\"", REG_SZ, {0x39, 0, 0, 0}},  // Wine's SHGetValueW reports success for this
        {"REG_SZ \"9999\"", REG_SZ, {0x39, 0, 0x39, 0, 0x39, 0, 0x39, 0, 0, 0}},
        {"REG_BINARY 2 bytes", REG_BINARY, {0x39, 0}},
        {"REG_BINARY 4 bytes", REG_BINARY, {0x39, 0, 0, 0}},
        {"REG_QWORD 57", REG_QWORD, {0x39, 0, 0, 0, 0, 0, 0, 0}},
        {"REG_DWORD of 2 bytes", REG_DWORD, {0x39, 0}},
        {"REG_DWORD_BIG_ENDIAN", REG_DWORD_BIG_ENDIAN, {0x39, 0, 0, 0}},
    };
    for (const auto& c : unreadable) {
        SCOPED_TRACE(c.label);
        SetValue(c.type, c.bytes);
        EXPECT_EQ(1, IsUpdateCheckDue());
    }
}

TEST_F(CheckScheduleRegistryTest, SaveCreatesTheKeyAndWritesADword)
{
    g_fake.now = 0x123456789LL;
    SaveLastCheckTime();
    DWORD type = REG_NONE;
    DWORD value = 0;
    DWORD size = sizeof value;
    ASSERT_EQ(ERROR_SUCCESS, ::SHGetValueW(HKEY_CURRENT_USER, kKey, L"LastTimeCheck", &type, &value, &size));
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
    EXPECT_EQ(4u, size);
    EXPECT_EQ(0x23456789u, value);

    // Read back by the schedule: due exactly when the day has passed.
    g_fake.now = 0x23456789LL + kDay;
    EXPECT_EQ(0, IsUpdateCheckDue());
    g_fake.now = 0x23456789LL + kDay + 1;
    EXPECT_EQ(1, IsUpdateCheckDue());
}

TEST(CheckScheduleClock, RealClockIsUtcSeconds)
{
    FILETIME fileTime = {};
    ::GetSystemTimeAsFileTime(&fileTime);
    const std::uint64_t ticks = (static_cast<std::uint64_t>(fileTime.dwHighDateTime) << 32) | fileTime.dwLowDateTime;
    const std::int64_t expected = static_cast<std::int64_t>(ticks / 10000000ULL) - 11644473600LL;
    const std::int64_t now = RealCheckScheduleCalls().currentTime();
    EXPECT_LE(expected, now);
    EXPECT_LE(now, expected + 2);
}

}  // namespace

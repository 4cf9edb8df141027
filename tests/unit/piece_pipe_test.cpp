#include "base/piece_pipe.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

TEST(PiecePipe, HashesTheBytesInOrderWhateverThePieces)
{
    std::vector<char> bytes(3 * 1024 * 1024 + 17);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(i * 131 + (i >> 13));
    }
    // A small ring, so pieces wrap around it and the feeder waits for room.
    const std::vector<std::size_t> feeds[] = {{}, {1, 7, 4096, 65537}, {1024 * 1024}, {bytes.size()}};
    for (const std::vector<std::size_t>& feed : feeds) {
        const std::size_t total = feed.empty() ? 0 : bytes.size();
        Sha256Pipe pipe(5000, 64 * 1024);
        for (std::size_t at = 0, i = 0; at < total; ++i) {
            const std::size_t piece = std::min(feed[i % feed.size()], total - at);
            ASSERT_TRUE(pipe.Update(bytes.data() + at, piece));
            at += piece;
        }
        unsigned char digest[32] = {};
        Sha256Digest expected{};
        ASSERT_TRUE(pipe.Finish(digest));
        ASSERT_TRUE(Sha256Of(bytes.data(), total, expected));
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), digest)) << feed.size() << " piece sizes";
    }
}

TEST(PiecePipe, AConsumerThatRefusesOrStallsFailsThePipeForGood)
{
    const std::vector<char> bytes(256 * 1024);
    PiecePipe refusing([](const char*, std::size_t) { return false; }, 4096, 5000);
    EXPECT_FALSE(refusing.Push(bytes.data(), bytes.size()));
    EXPECT_FALSE(refusing.Drain());
    EXPECT_EQ(static_cast<DWORD>(ERROR_FUNCTION_FAILED), refusing.Error());

    PiecePipe stalling([](const char*, std::size_t) { return ::Sleep(400), true; }, 4096, 50);
    const ULONGLONG started = ::GetTickCount64();
    EXPECT_FALSE(stalling.Push(bytes.data(), bytes.size()));
    EXPECT_LT(::GetTickCount64() - started, 350u);
    EXPECT_EQ(static_cast<DWORD>(ERROR_TIMEOUT), stalling.Error());
    EXPECT_FALSE(stalling.Push(bytes.data(), 1));
}

}  // namespace

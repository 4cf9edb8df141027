// Benchmark yardstick: how fast this machine's CNG hashes, which bounds how
// fast a signed package can be checked. Hashes N MiB (default 512) in 1 MiB
// pieces with the updater's own Sha256, then the same bytes fed in 64 KiB
// pieces through the updater's hash thread (Sha256Pipe, as a download feeds
// it), and prints "<MiB> <seconds> <seconds through the thread>".
#include "base/piece_pipe.h"
#include "base/sha256.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <vector>

namespace {

double Seconds(const LARGE_INTEGER& start)
{
    LARGE_INTEGER frequency = {};
    LARGE_INTEGER end = {};
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&end);
    return static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The seconds to hash `mebibytes` MiB fed in pieces of `piece` bytes; negative when hashing fails.
template <typename Hash>
double TimeHash(Hash& hash, unsigned long mebibytes, std::size_t piece)
{
    const std::vector<char> bytes(piece, 'v');
    LARGE_INTEGER start = {};
    ::QueryPerformanceCounter(&start);
    for (unsigned long long left = mebibytes * 1024ull * 1024; left > 0; left -= piece) {
        if (!hash.Update(bytes.data(), piece)) {
            return -1;
        }
    }
    unsigned char digest[32] = {};
    return hash.Finish(digest) ? Seconds(start) : -1;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const unsigned long mebibytes = argc > 1 ? std::wcstoul(argv[1], nullptr, 10) : 512;
    Sha256 alone;
    const double aloneSeconds = TimeHash(alone, mebibytes, 1024 * 1024);
    Sha256Pipe beside(10000);
    const double besideSeconds = TimeHash(beside, mebibytes, 64 * 1024);
    if (aloneSeconds < 0 || besideSeconds < 0) {
        return 1;
    }
    std::printf("%lu %.3f %.3f\n", mebibytes, aloneSeconds, besideSeconds);
    return 0;
}

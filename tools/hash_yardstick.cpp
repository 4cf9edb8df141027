// Benchmark yardstick: how fast this machine's CNG hashes, which bounds how
// fast a signed package can be checked. Hashes N MiB (default 512) in 1 MiB
// pieces with the updater's own Sha256 and prints "<MiB> <seconds>".
#include "base/sha256.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <vector>

int wmain(int argc, wchar_t** argv)
{
    const unsigned long mebibytes = argc > 1 ? std::wcstoul(argv[1], nullptr, 10) : 512;
    std::vector<char> piece(1024 * 1024, 'v');
    LARGE_INTEGER frequency = {};
    LARGE_INTEGER start = {};
    LARGE_INTEGER end = {};
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    Sha256 hash;
    for (unsigned long i = 0; i < mebibytes; ++i) {
        if (!hash.Update(piece.data(), piece.size())) {
            return 1;
        }
    }
    unsigned char digest[32] = {};
    if (!hash.Finish(digest)) {
        return 1;
    }
    ::QueryPerformanceCounter(&end);
    std::printf("%lu %.3f\n", mebibytes,
                static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart));
    return 0;
}

// Benchmark yardstick: what the installer publisher check costs alone, the one
// more pass over a full package that WinVerifyTrust makes. Opens FILE as the
// updater holds a package (read, shared for reading only), checks it with the
// updater's own CheckInstallerPublisher against the build's pins, and prints
// "<verdict> <seconds>": accepted, or the reason a run would log.
#include "base/handle_owner.h"
#include "base/utf8_text.h"
#include "update/install/installer_publisher.h"

#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: publisher_yardstick FILE\n");
        return 2;
    }
    const std::wstring path = argv[1];
    const HandleOwner file(
        ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        std::fprintf(stderr, "cannot open the file (Windows error %lu)\n", ::GetLastError());
        return 1;
    }
    LARGE_INTEGER frequency = {};
    LARGE_INTEGER start = {};
    LARGE_INTEGER end = {};
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    const PublisherVerdict verdict = CheckInstallerPublisher(file.Get(), path, BuiltInPublisherPins());
    ::QueryPerformanceCounter(&end);
    const std::wstring why = PublisherRejection(verdict);
    std::printf("%s %.3f\n", why.empty() ? "accepted" : Utf8FromWide(L"refused: " + why).c_str(),
                static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart));
    return why.empty() ? 0 : 1;
}

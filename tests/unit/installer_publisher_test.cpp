// The installer's publisher check on the fake installer as the build signs it (tests/CMakeLists.txt);
// ctest names the build folder and the publishers' pins, as openssl prints them, in the environment.
#include "update/install/installer_publisher.h"

#include "base/hex_text.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

std::wstring Environment(const char* name)
{
    const char* value = std::getenv(name);
    const std::string text = value != nullptr ? value : "";
    return std::wstring(text.begin(), text.end());
}

PublisherPin Pin(const char* variable)
{
    const std::wstring hex = Environment(variable);
    PublisherPin pin{};
    for (std::size_t i = 0; i < 32 && 2 * i + 1 < hex.size(); ++i) {
        pin.sha256[i] = static_cast<unsigned char>(HexDigitValue(hex[2 * i]) * 16 + HexDigitValue(hex[2 * i + 1]));
    }
    return pin;
}

TEST(InstallerPublisher, OnlyAVerifiedCodeSigningSignatureOfAPinnedKeyPasses)
{
    std::wstring build = L"Z:" + Environment("VELMAR_BUILD_DIR") + L"/";
    std::replace(build.begin(), build.end(), L'/', L'\\');
    // The publisher without the code-signing usage is pinned too: the usage is checked on its own.
    const PublisherPin pinned[] = {Pin("VELMAR_PIN_no_eku_publisher"), Pin("VELMAR_PIN_publisher")};
    const PublisherPins pins{pinned, 2};
    ScratchFolder scratch;
    std::string flipped = ReadFileBytes(build + L"fake_installer-signed.exe");
    // Bytes slipped into the signature's table, its two lengths raised to match: the signature still verifies.
    std::string padded = flipped + "slipped!";
    const auto word = [&](std::size_t at) -> std::uint32_t& { return *reinterpret_cast<std::uint32_t*>(&padded[at]); };
    const std::size_t entry = word(0x3C) + 24 + 112 + 32;  // PE32+: the security directory's offset and size
    word(entry + 4) += 8;
    word(word(entry)) += 8;
    flipped[flipped.size() / 2] ^= 1;

    const struct {
        std::wstring file;
        PublisherPins pins;
        std::wstring why;
    } cases[] = {
        {build + L"fake_installer-signed.exe", pins, L""},
        {build + L"fake_installer.exe", pins, L"not signed"},
        {build + L"fake_installer-signed-foreign.exe", pins,
         L"publisher " + Environment("VELMAR_PIN_foreign_publisher").substr(0, 16) + L" not pinned"},
        {build + L"fake_installer-signed-no-eku.exe", pins, L"no code-signing usage"},
        {scratch.Write(L"tampered.exe", flipped), pins, L"the signature does not verify (0x80096010)"},
        {scratch.Write(L"padded.exe", padded), pins, L"unsigned bytes beside its signature"},
        {build + L"fake_installer.exe", PublisherPins{}, L""},
    };
    for (const auto& c : cases) {
        // Through a handle opened as the updater holds its package: read, shared for reading.
        HandleOwner file(::CreateFileW(c.file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                                       nullptr));
        EXPECT_EQ(c.why, PublisherRejection(CheckInstallerPublisher(file.Get(), c.file, c.pins))) << c.file;
    }
}

}  // namespace

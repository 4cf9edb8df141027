// The installer's publisher check on the fake installer as the build signs it
// (tests/CMakeLists.txt). ctest names the build folder and the publishers' pins,
// as openssl prints them, in the environment.
#include "update/installer_publisher.h"

#include "base/hex_text.h"
#include "test_files.h"

#include <gtest/gtest.h>

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
    EXPECT_EQ(64u, hex.size()) << variable;
    PublisherPin pin{};
    for (std::size_t i = 0; i < 32 && 2 * i + 1 < hex.size(); ++i) {
        pin.sha256[i] = static_cast<unsigned char>(HexDigitValue(hex[2 * i]) * 16 + HexDigitValue(hex[2 * i + 1]));
    }
    return pin;
}

// Checked through a handle opened as the updater holds its package: read, shared for reading.
std::wstring Why(const std::wstring& path, const PublisherPins& pins)
{
    HandleOwner file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(file.Valid()) << path;
    return PublisherRejection(CheckInstallerPublisher(file.Get(), path, pins));
}

TEST(InstallerPublisher, OnlyAVerifiedCodeSigningSignatureOfAPinnedKeyPasses)
{
    std::wstring build = L"Z:" + Environment("VELMAR_BUILD_DIR") + L"/";
    for (wchar_t& c : build) {
        c = c == L'/' ? L'\\' : c;
    }
    // The publisher without the code-signing usage is pinned too: the usage is checked on its own.
    const PublisherPin pinned[] = {Pin("VELMAR_NO_EKU_PUBLISHER_PIN"), Pin("VELMAR_TEST_PUBLISHER_PIN")};
    const PublisherPins pins{pinned, 2};
    ScratchFolder scratch;
    std::string flipped = ReadFileBytes(build + L"fake_installer-signed.exe");
    flipped[flipped.size() / 2] ^= 1;
    const std::wstring tampered = scratch.Write(L"tampered.exe", flipped);

    const struct {
        std::wstring file;
        PublisherPins pins;
        std::wstring why;
    } cases[] = {
        {build + L"fake_installer-signed.exe", pins, L""},
        {build + L"fake_installer.exe", pins, L"not signed"},
        {build + L"fake_installer-signed-foreign.exe", pins,
         L"publisher " + Environment("VELMAR_FOREIGN_PUBLISHER_PIN").substr(0, 16) + L" not pinned"},
        {build + L"fake_installer-signed-no-eku.exe", pins, L"no code-signing usage"},
        {tampered, pins, L"the signature does not verify (0x80096010)"},
        {build + L"fake_installer.exe", PublisherPins{}, L""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.why, Why(c.file, c.pins)) << c.file;
    }
}

}  // namespace

// Reads the version information and the manifest back from the built VelmarUpdate.exe,
// as Explorer, installers and the loader see them. ctest names the exe and the
// project version in VELMAR_UPDATE_EXE and VELMAR_VERSION.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Environment(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// A Unix path (from ctest under Wine) reads through drive Z:.
std::wstring ExePath()
{
    const std::string path = Environment("VELMAR_UPDATE_EXE");
    std::wstring windows = path.size() > 0 && path[0] == '/' ? L"Z:" : L"";
    for (char c : path) {
        windows += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
    }
    return windows;
}

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

TEST(ExeResources, VersionInformation)
{
    const std::wstring exe = ExePath();
    const std::string version = Environment("VELMAR_VERSION");
    ASSERT_FALSE(exe.empty()) << "VELMAR_UPDATE_EXE is not set";
    unsigned major = 0, minor = 0, patch = 0, tweak = 0;
    ASSERT_EQ(4, std::sscanf(version.c_str(), "%u.%u.%u.%u", &major, &minor, &patch, &tweak)) << version;

    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(exe.c_str(), &ignored);
    ASSERT_NE(0u, size) << ::GetLastError();
    std::vector<unsigned char> block(size);
    ASSERT_TRUE(::GetFileVersionInfoW(exe.c_str(), 0, size, block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    ASSERT_EQ(sizeof(VS_FIXEDFILEINFO), length);
    EXPECT_EQ(MAKELONG(minor, major), fixed->dwFileVersionMS);
    EXPECT_EQ(MAKELONG(tweak, patch), fixed->dwFileVersionLS);
    EXPECT_EQ(fixed->dwFileVersionMS, fixed->dwProductVersionMS);
    EXPECT_EQ(fixed->dwFileVersionLS, fixed->dwProductVersionLS);
    EXPECT_EQ(static_cast<DWORD>(VFT_APP), fixed->dwFileType);

    // Readers find the strings through the first translation, so it must name the string block.
    WORD* translation = nullptr;
    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                                 &length));
    ASSERT_GE(length, 4u);
    wchar_t prefix[64];
    std::swprintf(prefix, 64, L"\\StringFileInfo\\%04x%04x\\", translation[0], translation[1]);

    const struct {
        const wchar_t* name;
        std::wstring value;  // empty: any non-empty text
    } strings[] = {
        {L"CompanyName", L"Orvanta"},
        {L"ProductName", L"Orvanta Velmar"},
        {L"OriginalFilename", L"VelmarUpdate.exe"},
        {L"FileVersion", Widen(version)},
        {L"ProductVersion", Widen(version)},
        {L"FileDescription", L""},
    };
    for (const auto& s : strings) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(s.name)));
        wchar_t* text = nullptr;
        ASSERT_TRUE(::VerQueryValueW(block.data(), (prefix + std::wstring(s.name)).c_str(),
                                     reinterpret_cast<void**>(&text), &length));
        if (s.value.empty()) {
            EXPECT_GT(std::wstring(text).size(), 0u);
        } else {
            EXPECT_EQ(s.value, std::wstring(text));
        }
    }
}

BOOL CALLBACK CountLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD, LONG_PTR count)
{
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

BOOL CALLBACK CountManifests(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR count)
{
    ::EnumResourceLanguagesW(module, type, name, CountLanguage, count);
    return TRUE;
}

TEST(ExeResources, OneManifestAsInvokerForWindows10And11)
{
    const std::wstring exe = ExePath();
    ASSERT_FALSE(exe.empty()) << "VELMAR_UPDATE_EXE is not set";
    HMODULE module = ::LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, module) << ::GetLastError();

    // A second manifest (say, a toolchain's default one) would leave which one counts to chance.
    int manifests = 0;
    ::EnumResourceNamesW(module, RT_MANIFEST, CountManifests, reinterpret_cast<LONG_PTR>(&manifests));
    EXPECT_EQ(1, manifests);

    HRSRC found = ::FindResourceW(module, CREATEPROCESS_MANIFEST_RESOURCE_ID, RT_MANIFEST);
    ASSERT_NE(nullptr, found);
    HGLOBAL loaded = ::LoadResource(module, found);
    ASSERT_NE(nullptr, loaded);
    const std::string manifest(static_cast<const char*>(::LockResource(loaded)), ::SizeofResource(module, found));
    EXPECT_NE(std::string::npos, manifest.find("<requestedExecutionLevel level=\"asInvoker\""));
    EXPECT_NE(std::string::npos, manifest.find("<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>"));
    ::FreeLibrary(module);
}

}  // namespace

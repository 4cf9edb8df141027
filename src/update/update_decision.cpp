#include "update/update_decision.h"

#include "base/switches.h"
#include "build_settings.h"
#include "log/update_log.h"
#include "update/host_messages.h"
#include "update/version_rules.h"

#include <string>

namespace {

constexpr wchar_t kSection[] = L"main";
constexpr wchar_t kAbsentValue[] = L"0";  // one number: never a valid version
constexpr wchar_t kPatchFileName[] = L"velmar.diff";

}  // namespace

int DecideUpdateFor(const wchar_t* commandLine, const wchar_t* baseUrl, ProfileReader readProfile,
                    const wchar_t* manifestPath, wchar_t* patchUrl, int& bFullPackage, wchar_t* fullPackageUrl)
{
    bFullPackage = 0;

    wchar_t installed[kSwitchBufferChars] = {};
    if (GetSwitchValue(commandLine, L"/v:", installed, kSwitchDeclaredSize) == 0 || installed[0] == L'\0') {
        return 0;
    }
    // The installed version is not validated, but one without any number
    // (only full stops) has nothing to compare: treat it like an empty one.
    VersionNumbers installedNumbers;
    if (!SplitVersion(installed, L'.', installedNumbers)) {
        return 0;
    }

    wchar_t newVersion[kSwitchBufferChars] = {};
    wchar_t minVersion[kSwitchBufferChars] = {};
    readProfile(kSection, L"version", kAbsentValue, newVersion, kSwitchDeclaredSize, manifestPath);
    readProfile(kSection, L"miniver", kAbsentValue, minVersion, kSwitchDeclaredSize, manifestPath);
    g_updateLog.Stream() << L" NewVer:" << newVersion << L" MinVer:" << minVersion;

    if (!IsValidVersion(newVersion) || !IsValidVersion(minVersion)) {
        return 0;
    }

    if (CompareVersion(minVersion, installed) > 0) {
        // Too old for a patch: the full package, and no "update available" text.
        readProfile(kSection, L"newest", kAbsentValue, fullPackageUrl, kUrlBufferChars - 1, manifestPath);
        bFullPackage = 1;
        return 1;
    }

    if (CompareVersion(newVersion, installed) > 0) {
        NotifyUpdateAvailable(newVersion);
        // Both versions go in as given: the server keeps one archive per pair of texts.
        std::wstring url(baseUrl);
        url.append(installed).append(L"-").append(newVersion).append(L"/").append(kPatchFileName);
        if (url.size() > static_cast<std::size_t>(kUrlBufferChars - 1)) {
            url.resize(kUrlBufferChars - 1);
        }
        url.copy(patchUrl, url.size());
        patchUrl[url.size()] = L'\0';
        return 1;
    }
    return 0;
}

int DecideUpdate(const wchar_t* commandLine, const wchar_t* manifestPath, wchar_t* patchUrl, int& bFullPackage,
                 wchar_t* fullPackageUrl)
{
    return DecideUpdateFor(commandLine, VELMAR_UPDATE_BASE_URL, &::GetPrivateProfileStringW, manifestPath,
                           patchUrl, bFullPackage, fullPackageUrl);
}

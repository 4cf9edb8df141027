// What one update cycle installs: nothing, a differential patch or the full
// package. Plain values in, a plan out; nothing is sent or logged.
#pragma once

#include <string>

// The values of the manifest's section "main" that the decision reads. A key
// that is absent, or whose value is too long to hold, reads as "0" (never a
// valid version) and, for "newest", as empty text.
struct ManifestValues {
    std::wstring version = L"0";
    std::wstring miniver = L"0";
    std::wstring newest;
};

enum class PackageKind { None, Patch, Full };

struct UpdatePlan {
    PackageKind kind = PackageKind::None;
    std::wstring url;          // the package; empty when it would not fit a URL
    std::wstring version;      // the manifest's "version", for the host's "OnUpdateAvailable"
    std::wstring manifestKey;  // the package's name in the manifest: "newest" or "<installed>-<version>/velmar.diff"
};

// The longest URL the program handles, in characters without the terminator.
constexpr std::size_t kMaxUrlChars = 2083;

// installedVersion is "/v:" (empty when absent); baseUrl ends in "update/".
// Older than "miniver": the full package named by "newest". Otherwise older
// than "version": the patch <base><installed>-<version>/velmar.diff, both
// versions as written. Otherwise, or when a version is not usable, nothing.
UpdatePlan DecideUpdate(const std::wstring& installedVersion, const ManifestValues& manifest,
                        const std::wstring& baseUrl);

// Everything the cycle reads of a manifest, parsed once from the very bytes
// that were checked. A field that does not parse is held as absent, its text
// kept for the log: nothing downstream parses a manifest string again.
#pragma once

#include "base/sha256.h"
#include "update/manifest/manifest_text.h"
#include "update/manifest/rollout_rules.h"
#include "update/manifest/version_rules.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>

// A field as written (for the log) and as read: nullopt when absent or malformed.
template <typename T>
struct ManifestField {
    std::wstring text;
    std::optional<T> value;
};

// The values of section "main" that the decision reads. A version that is
// absent, or too long to hold, reads as "0", never a version; so does "newest"
// as empty text. A version is one with exactly four numbers.
struct ManifestValues {
    ManifestField<VersionNumbers> version{L"0", std::nullopt};
    ManifestField<VersionNumbers> miniver{L"0", std::nullopt};
    std::wstring newest;
};

// What a signed manifest binds a package to: its exact size and SHA-256.
struct PackageBinding {
    std::uint64_t size = 0;
    Sha256Digest sha256{};
};

struct Manifest {
    ManifestValues main;
    ManifestField<std::uint64_t> serial;  // 1 to 2^63 - 1
    ManifestField<std::int64_t> expires;  // Unix seconds
    Rollout rollout;
    // Package key ("newest", or a patch's path) -> its binding: only keys whose
    // first [sha256] and first [size] entries are both well formed.
    std::map<std::wstring, PackageBinding, NoCaseLess> bindings;

    std::optional<PackageBinding> BindingOf(const std::wstring& manifestKey) const;
};

Manifest ParseManifest(const std::string& bytes);

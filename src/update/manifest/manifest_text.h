// The manifest, version.ini, read once from the bytes that were downloaded (and
// with keys verified), by the reading rules of the Windows profile API that
// the vendor's manifests are written for.
#pragma once

#include "update/manifest/manifest_rules.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// An INI text as GetPrivateProfileStringW reads it: section and key names, blanks
// around them dropped, match
// without regard to case, the first matching section and the first matching key
// in it win, blanks around names and values are dropped, a value in one pair of
// quotes loses them, lines starting with ";" are comments, lines end in LF or
// CR LF (CR alone where the text has no LF at all).
class ProfileText {
public:
    // ANSI text, or UTF-8 or UTF-16 LE after a byte-order mark.
    explicit ProfileText(const std::string& bytes);
    // nullopt when the section or the key is absent (a key without "=" has no value).
    std::optional<std::wstring> Value(const std::wstring& section, const std::wstring& key) const;
    // The entries of the first section of that name, in file order.
    std::vector<std::pair<std::wstring, std::wstring>> Entries(const std::wstring& section) const;

private:
    struct Section {
        std::wstring name;
        std::vector<std::pair<std::wstring, std::optional<std::wstring>>> entries;
    };
    const Section* Find(const std::wstring& section) const;
    std::vector<Section> sections_;
};

// ASCII letters compared without regard to case, as the profile API matches names.
struct NoCaseLess {
    bool operator()(const std::wstring& left, const std::wstring& right) const;
};

// The values of the manifest's section "main" that the decision reads. A key
// that is absent, or whose value is too long to hold, reads as "0" (never a
// valid version) and, for "newest", as empty text.
struct ManifestValues {
    std::wstring version = L"0";
    std::wstring miniver = L"0";
    std::wstring newest;
};

// What a signed manifest binds a package to: its exact size and SHA-256.
struct PackageBinding {
    std::uint64_t size = 0;
    Sha256Digest sha256{};
};

// Everything the cycle reads of a manifest, parsed once.
struct Manifest {
    ManifestValues main;      // version, miniver, newest as the decision reads them
    std::wstring serial;      // as written; empty when absent
    std::wstring expires;
    std::optional<std::wstring> rollout;  // absent: offered to all
    std::map<std::wstring, std::wstring, NoCaseLess> sha256;  // package key -> text, first entry wins
    std::map<std::wstring, std::wstring, NoCaseLess> size;
};

Manifest ParseManifest(const std::string& bytes);

// The [size] and [sha256] entries of the package named `manifestKey`; nullopt
// when either is missing or malformed.
std::optional<PackageBinding> BindingOf(const Manifest& manifest, const std::wstring& manifestKey);

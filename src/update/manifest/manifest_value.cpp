#include "update/manifest/manifest_value.h"

#include "net/transfer_rules.h"
#include "update/manifest/manifest_rules.h"

namespace {

// A version text longer than a command-line switch value cannot be compared with one.
constexpr std::size_t kMaxVersionChars = 258;
// Longer than any well-formed serial (19 digits), size or time (20 characters): too long is malformed.
constexpr std::size_t kMaxNumberChars = 24;

// The value when present and at most maxChars long; a longer one is never cut and used.
std::wstring FittingValue(const std::optional<std::wstring>& value, std::size_t maxChars, const wchar_t* otherwise)
{
    return value && !value->empty() && value->size() <= maxChars ? *value : std::wstring(otherwise);
}

ManifestField<VersionNumbers> VersionField(const ProfileText& text, const wchar_t* key)
{
    const std::wstring written = FittingValue(text.Value(L"main", key), kMaxVersionChars, L"0");
    return {written, ParseManifestVersion(written)};
}

template <typename T>
ManifestField<T> NumberField(const ProfileText& text, const wchar_t* key,
                             std::optional<T> (*parse)(const std::wstring&))
{
    const std::wstring written = FittingValue(text.Value(L"main", key), kMaxNumberChars, L"");
    return {written, parse(written)};
}

// The first entry of each name wins, as the profile reader finds it.
std::map<std::wstring, std::wstring, NoCaseLess> FirstEntries(const ProfileText& text, const wchar_t* section)
{
    std::map<std::wstring, std::wstring, NoCaseLess> entries;
    for (const auto& entry : text.Entries(section)) {
        entries.emplace(entry);
    }
    return entries;
}

}  // namespace

std::optional<PackageBinding> Manifest::BindingOf(const std::wstring& manifestKey) const
{
    const auto found = bindings.find(manifestKey);
    return found == bindings.end() ? std::nullopt : std::optional<PackageBinding>(found->second);
}

Manifest ParseManifest(const std::string& bytes)
{
    const ProfileText text(bytes);
    Manifest manifest;
    manifest.main.version = VersionField(text, L"version");
    manifest.main.miniver = VersionField(text, L"miniver");
    manifest.main.newest = FittingValue(text.Value(L"main", L"newest"), kMaxUrlChars, L"");
    manifest.serial = NumberField(text, L"serial", &ParseManifestSerial);
    manifest.expires = NumberField(text, L"expires", &ParseManifestTime);
    manifest.rollout = ReadRollout(text.Value(L"main", L"rollout"));
    const auto sizes = FirstEntries(text, L"size");
    for (const auto& hash : FirstEntries(text, L"sha256")) {
        const auto size = sizes.find(hash.first);
        const std::optional<std::uint64_t> bytes = size == sizes.end() ? std::nullopt : ParsePackageSize(size->second);
        const std::optional<Sha256Digest> digest = ParseSha256Hex(hash.second);
        if (bytes && digest) {
            manifest.bindings.emplace(hash.first, PackageBinding{*bytes, *digest});
        }
    }
    return manifest;
}

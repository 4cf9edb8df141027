// The text of the manifest, version.ini, read by the rules of the Windows
// profile API that the vendor's manifests are written for.
#pragma once

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

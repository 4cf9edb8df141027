#include "update/manifest/rollout_rules.h"

#include "base/decimal_text.h"
#include "base/sha256.h"
#include "base/utf8_text.h"

namespace {

constexpr std::uint32_t kPlaces = 10000;

}  // namespace

std::optional<std::uint32_t> ParseRollout(const std::wstring& text)
{
    const std::size_t point = text.find(L'.');
    const std::wstring whole = text.substr(0, point);
    const std::wstring fraction = point == std::wstring::npos ? std::wstring() : text.substr(point + 1);
    if (whole.size() > 3 || (point != std::wstring::npos && (fraction.empty() || fraction.size() > 2))) {
        return std::nullopt;
    }
    const std::optional<std::uint64_t> percent = ParsePlainDecimal(whole);
    const std::optional<std::uint64_t> decimals = fraction.empty() ? 0 : ParsePlainDecimal(fraction);
    if (!percent || !decimals) {
        return std::nullopt;
    }
    const std::uint64_t hundredths = *percent * 100 + *decimals * (fraction.size() == 1 ? 10 : 1);
    return hundredths <= kPlaces ? std::optional<std::uint32_t>(static_cast<std::uint32_t>(hundredths)) : std::nullopt;
}

Rollout ReadRollout(const std::optional<std::wstring>& text)
{
    Rollout rollout;
    if (text) {
        const std::optional<std::uint32_t> hundredths = ParseRollout(*text);
        rollout.offer = hundredths ? Rollout::Offer::ToShare : Rollout::Offer::ToNone;
        rollout.hundredths = hundredths.value_or(0);
        rollout.text = *text;
    }
    return rollout;
}

std::uint32_t RolloutPlace(const VersionNumbers& version, std::uint64_t installId)
{
    const std::string text = Utf8FromWide(CanonicalVersion(version)) + ":" + std::to_string(installId);
    Sha256Digest digest{};
    if (!Sha256Of(text.data(), text.size(), digest)) {
        return kPlaces - 1;  // no hash: the last place, offered only to all
    }
    std::uint64_t leading = 0;
    for (int i = 0; i < 8; ++i) {
        leading = (leading << 8) | digest[static_cast<std::size_t>(i)];
    }
    return static_cast<std::uint32_t>(leading % kPlaces);
}

std::wstring PlaceAsPercent(std::uint32_t place)
{
    const std::wstring hundredths = std::to_wstring(place % 100);
    return std::to_wstring(place / 100) + L"." + (hundredths.size() < 2 ? L"0" : L"") + hundredths;
}

// Staged rollout: which installations a release is offered to, from the signed
// manifest's "rollout" and an id each installation keeps to itself.
#pragma once

#include "update/manifest/version_rules.h"

#include <cstdint>
#include <optional>
#include <string>

// "rollout" as hundredths of a percent, 0 to 10000: a number from 0 to 100
// with at most two decimals ("0", "0.5", "12.25", "100"). nullopt for anything
// else, over 100 included: a release with a malformed rollout goes to nobody.
std::optional<std::uint32_t> ParseRollout(const std::wstring& text);

// The signed "rollout" as a manifest gives it.
struct Rollout {
    enum class Offer { ToAll, ToShare, ToNone };  // no rollout key; a share; malformed
    Offer offer = Offer::ToAll;
    std::uint32_t hundredths = 10000;  // ToShare: the share, 0 to 10000
    std::wstring text;                 // as written, for the log
};
Rollout ReadRollout(const std::optional<std::wstring>& text);

// This installation's place for a release, 0 to 9999: the first 8 bytes,
// big-endian, of SHA-256 over "<version>:<installId in decimal>", modulo 10000.
// The version is part of it, so each release has its own first group; it is
// hashed as CanonicalVersion writes its numbers, so a re-spelt version keeps its places.
std::uint32_t RolloutPlace(const VersionNumbers& version, std::uint64_t installId);

// Offered when the place is below the rollout: 12.25 admits places 0 to 1224.
inline bool IsOffered(std::uint32_t place, std::uint32_t rolloutHundredths) { return place < rolloutHundredths; }

// "37.12" for place 3712: the place as a percentage, two decimals.
std::wstring PlaceAsPercent(std::uint32_t place);

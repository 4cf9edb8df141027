#include "update/policy/update_policy.h"

#include "base/decimal_text.h"
#include "net/wininet_calls.h"

#include <cstring>
#include <iterator>

namespace {

// The one list of value names and types: the reader asks for these and nothing
// else, and the ADMX test compares the templates against this table.
const PolicyValueName kPolicyValues[] = {
    {L"UpdateDefault", REG_DWORD},
    {L"TargetVersionPrefix", REG_SZ},
    {L"CheckPeriodMinutes", REG_DWORD},
    {L"UpdatesSuppressedStartHour", REG_DWORD},
    {L"UpdatesSuppressedStartMin", REG_DWORD},
    {L"UpdatesSuppressedDurationMin", REG_DWORD},
    {L"UpdateUrl", REG_SZ},
};
// Positions in kPolicyValues.
enum PolicyIndex {
    kUpdateDefault,
    kTargetVersionPrefix,
    kCheckPeriodMinutes,
    kQuietStartHour,
    kQuietStartMin,
    kQuietDurationMin,
    kUpdateUrl,
    kPolicyCount
};
static_assert(std::size(kPolicyValues) == kPolicyCount, "one index per policy value");

constexpr std::uint32_t kShortestPeriod = 60;
constexpr std::uint32_t kLongestPeriod = 43200;
constexpr int kLongestQuietMinutes = 960;

// Why a value is not used; empty when it is.
using Refusal = std::wstring;

std::wstring Name(PolicyIndex index) { return kPolicyValues[index].name; }

// The value's data when present with the expected type and readable size;
// otherwise nullopt and, unless absent, why.
std::optional<std::vector<unsigned char>> UsableData(const std::optional<PolicyValue>& value, PolicyIndex index,
                                                     Refusal& refusal)
{
    if (!value) {
        return std::nullopt;
    }
    const DWORD expected = kPolicyValues[index].type;
    if (value->type != expected) {
        refusal = RegistryTypeName(value->type) + L", expected " + RegistryTypeName(expected);
        return std::nullopt;
    }
    // A REG_DWORD of another length than 4 is as unusable as one too large.
    if (value->tooLarge || value->data.size() > kMaxPolicyDataBytes ||
        (expected == REG_DWORD && value->data.size() != sizeof(DWORD))) {
        refusal = L"out of range";
        return std::nullopt;
    }
    return value->data;
}

std::uint32_t DwordFrom(const std::vector<unsigned char>& data)
{
    return static_cast<std::uint32_t>(data[0]) | static_cast<std::uint32_t>(data[1]) << 8 |
           static_cast<std::uint32_t>(data[2]) << 16 | static_cast<std::uint32_t>(data[3]) << 24;
}

// REG_SZ data up to its first NUL; a terminator may be missing and an odd last byte is dropped.
std::wstring TextFrom(const std::vector<unsigned char>& data)
{
    std::wstring text(data.size() / sizeof(wchar_t), L'\0');
    if (!text.empty()) {
        std::memcpy(&text[0], data.data(), text.size() * sizeof(wchar_t));
    }
    const std::size_t end = text.find(L'\0');
    return end == std::wstring::npos ? text : text.substr(0, end);
}

// A DWORD in [low, high]; nullopt (with a refusal when present) otherwise.
std::optional<std::uint32_t> DwordInRange(const std::optional<PolicyValue>& value, PolicyIndex index,
                                          std::uint32_t low, std::uint32_t high, Refusal& refusal)
{
    const auto data = UsableData(value, index, refusal);
    if (!data) {
        return std::nullopt;
    }
    const std::uint32_t number = DwordFrom(*data);
    if (number < low || number > high) {
        refusal = L"out of range";
        return std::nullopt;
    }
    return number;
}

void LogIgnored(UpdatePolicy& policy, const std::wstring& name, const Refusal& refusal)
{
    policy.logEntries.push_back(L" PolicyIgnored:" + name + L" (" + refusal + L")");
}

void ReadUpdateDefault(const std::optional<PolicyValue>& value, UpdatePolicy& policy)
{
    Refusal refusal;
    const auto number = DwordInRange(value, kUpdateDefault, 0, 1, refusal);
    if (number) {
        policy.updatesOff = *number == 0;
        policy.logEntries.push_back(L" Policy:UpdateDefault=" + std::to_wstring(*number));
    } else if (!refusal.empty()) {
        LogIgnored(policy, Name(kUpdateDefault), refusal);
    }
}

void ReadTargetVersionPrefix(const std::optional<PolicyValue>& value, UpdatePolicy& policy)
{
    if (!value) {
        return;
    }
    VersionPin pin;
    Refusal refusal;
    if (const auto data = UsableData(value, kTargetVersionPrefix, refusal)) {
        pin.text = TextFrom(*data);
        const std::optional<VersionNumbers> numbers = ParseVersionPrefix(pin.text);
        pin.state = numbers ? VersionPin::State::Numbers : VersionPin::State::Malformed;
        pin.numbers = numbers.value_or(VersionNumbers());
    } else {
        pin.state = value->type == REG_SZ ? VersionPin::State::TooLarge : VersionPin::State::WrongType;
        pin.type = value->type;
    }
    std::wstring entry = L" Policy:TargetVersionPrefix=" + pin.Shown();
    if (pin.state != VersionPin::State::Numbers) {
        entry += L" is malformed: no release matches it";
    }
    policy.targetVersionPrefix = pin;
    policy.logEntries.push_back(entry);
}

void ReadCheckPeriod(const std::optional<PolicyValue>& value, UpdatePolicy& policy)
{
    Refusal refusal;
    const auto minutes = DwordInRange(value, kCheckPeriodMinutes, 0, 0xFFFFFFFFu, refusal);
    if (!minutes) {
        if (!refusal.empty()) {
            LogIgnored(policy, Name(kCheckPeriodMinutes), refusal);
        }
        return;
    }
    policy.checkPeriodMinutes = ClampCheckPeriodMinutes(*minutes);
    std::wstring entry = L" Policy:CheckPeriodMinutes=" + std::to_wstring(*minutes);
    if (*policy.checkPeriodMinutes != *minutes) {
        entry += L", taken as " + std::to_wstring(*policy.checkPeriodMinutes);
    }
    policy.logEntries.push_back(entry);
}

// All three values or none: half a window would silence updates at a time nobody chose.
void ReadQuietWindow(const std::optional<PolicyValue> (&values)[kPolicyCount], UpdatePolicy& policy)
{
    const struct {
        PolicyIndex index;
        std::uint32_t low;
        std::uint32_t high;
    } parts[] = {{kQuietStartHour, 0, 23}, {kQuietStartMin, 0, 59}, {kQuietDurationMin, 1, kLongestQuietMinutes}};
    if (!values[kQuietStartHour] && !values[kQuietStartMin] && !values[kQuietDurationMin]) {
        return;
    }
    std::uint32_t numbers[3] = {};
    for (std::size_t i = 0; i < std::size(parts); ++i) {
        Refusal refusal;
        const auto number = DwordInRange(values[parts[i].index], parts[i].index, parts[i].low, parts[i].high, refusal);
        if (!number) {
            LogIgnored(policy, L"UpdatesSuppressed",
                       Name(parts[i].index) + L" " + (refusal.empty() ? std::wstring(L"missing") : refusal));
            return;
        }
        numbers[i] = *number;
    }
    QuietWindow window;
    window.startMinute = static_cast<int>(numbers[0] * 60 + numbers[1]);
    window.durationMinutes = static_cast<int>(numbers[2]);
    policy.quietWindow = window;
    policy.logEntries.push_back(L" Policy:UpdatesSuppressed=" + QuietWindowText(window));
}

void ReadUpdateUrl(const std::optional<PolicyValue>& value, UpdatePolicy& policy)
{
    Refusal refusal;
    const auto data = UsableData(value, kUpdateUrl, refusal);
    if (data) {
        // Only a URL that passed is ever logged: a refused one may hold a password.
        const std::wstring url = TextFrom(*data);
        refusal = BaseUrlProblem(url);
        if (refusal.empty()) {
            policy.updateUrl = url;
            policy.logEntries.push_back(L" Policy:UpdateUrl=" + url);
            return;
        }
    }
    if (!refusal.empty()) {
        LogIgnored(policy, Name(kUpdateUrl), refusal);
    }
}

}  // namespace

const std::vector<PolicyValueName>& PolicyValueNames()
{
    static const std::vector<PolicyValueName> names(std::begin(kPolicyValues), std::end(kPolicyValues));
    return names;
}

UpdatePolicy InterpretPolicies(const PolicyLookup& lookup)
{
    std::optional<PolicyValue> values[kPolicyCount];
    for (std::size_t i = 0; i < kPolicyCount; ++i) {
        values[i] = lookup(kPolicyValues[i].name);
    }
    UpdatePolicy policy;
    ReadUpdateDefault(values[kUpdateDefault], policy);
    ReadTargetVersionPrefix(values[kTargetVersionPrefix], policy);
    ReadCheckPeriod(values[kCheckPeriodMinutes], policy);
    ReadQuietWindow(values, policy);
    ReadUpdateUrl(values[kUpdateUrl], policy);
    return policy;
}

std::uint32_t ClampCheckPeriodMinutes(std::uint32_t minutes)
{
    if (minutes == 0) {
        return 0;
    }
    return minutes < kShortestPeriod ? kShortestPeriod : (minutes > kLongestPeriod ? kLongestPeriod : minutes);
}

std::wstring RegistryTypeName(DWORD type)
{
    static const wchar_t* const kNames[] = {L"REG_NONE",  L"REG_SZ",   L"REG_EXPAND_SZ",
                                            L"REG_BINARY", L"REG_DWORD", L"REG_DWORD_BIG_ENDIAN",
                                            L"REG_LINK",   L"REG_MULTI_SZ"};
    if (type < std::size(kNames)) {
        return kNames[type];
    }
    return type == REG_QWORD ? L"REG_QWORD" : L"type " + std::to_wstring(type);
}

std::wstring UpdatesOffLogText() { return L" Policy:updates are off"; }

bool VersionPin::Admits(const VersionNumbers& version) const
{
    return state == State::Numbers && StartsWithPrefix(version, numbers);
}

std::wstring VersionPin::Shown() const
{
    switch (state) {
    case State::TooLarge:
        return L"(over 8 KiB)";
    case State::WrongType:
        return L"(" + RegistryTypeName(type) + L", expected REG_SZ)";
    default:
        return text;
    }
}

std::wstring OutsidePrefixLogText(const std::wstring& version, const VersionPin& pin)
{
    std::wstring text = L" Policy:" + version + L" is outside TargetVersionPrefix " + pin.Shown();
    if (pin.state != VersionPin::State::Numbers) {
        text += L" (malformed: no release matches it)";
    }
    return text;
}

std::wstring QuietHoursLogText(const QuietWindow& window)
{
    return L" Policy:within the quiet hours (" + QuietWindowText(window) + L"), no check now";
}

std::wstring NoAutomaticCheckLogText() { return L" Policy:CheckPeriodMinutes=0, no automatic check"; }

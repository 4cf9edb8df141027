#include "update/policy/update_policy.h"

#include "net/wininet_calls.h"

#include <iterator>

namespace {

// The one list of value names and types: the reader asks for these and nothing
// else, and the ADMX test compares the templates against this table.
const struct {
    const wchar_t* name;
    DWORD type;
} kPolicyValues[] = {
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

std::wstring Name(PolicyIndex index) { return kPolicyValues[index].name; }

// Why a present value is not one of the table's type; nullopt when it is.
std::optional<std::wstring> Misfit(const PolicyValue& value, PolicyIndex index)
{
    return PolicyMisfit(value, kPolicyValues[index].type);
}

void LogIgnored(UpdatePolicy& policy, const std::wstring& name, const std::wstring& why)
{
    policy.logEntries.push_back(PolicyIgnoredText(name, why));
}

void ReadUpdateDefault(const std::optional<PolicyValue>& value, UpdatePolicy& policy)
{
    const PolicyReading<std::uint32_t> reading = PolicyDwordInRange(value, 0, 1);
    if (reading.taken) {
        policy.updatesOff = *reading.taken == 0;
        policy.logEntries.push_back(L" Policy:UpdateDefault=" + std::to_wstring(*reading.taken));
    } else if (reading.present) {
        LogIgnored(policy, Name(kUpdateDefault), reading.whyRefused);
    }
}

void ReadTargetVersionPrefix(const std::optional<PolicyValue>& value, UpdatePolicy& policy)
{
    if (!value) {
        return;
    }
    VersionPin pin;
    switch (FitOf(*value, REG_SZ)) {
    case ValueFit::Fits: {
        pin.text = *TextOf(value);
        const std::optional<VersionNumbers> numbers = ParseVersionPrefix(pin.text);
        pin.state = numbers ? VersionPin::State::Numbers : VersionPin::State::Malformed;
        pin.numbers = numbers.value_or(VersionNumbers());
        break;
    }
    case ValueFit::WrongType:
        pin.state = VersionPin::State::WrongType;
        pin.type = value->type;
        break;
    case ValueFit::TooLarge:
    case ValueFit::WrongSize:
        pin.state = VersionPin::State::TooLarge;
        break;
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
    const PolicyReading<std::uint32_t> reading = PolicyDwordInRange(value, 0, 0xFFFFFFFFu);
    if (!reading.taken) {
        if (reading.present) {
            LogIgnored(policy, Name(kCheckPeriodMinutes), reading.whyRefused);
        }
        return;
    }
    const std::uint32_t minutes = *reading.taken;
    policy.checkPeriodMinutes = ClampCheckPeriodMinutes(minutes);
    std::wstring entry = L" Policy:CheckPeriodMinutes=" + std::to_wstring(minutes);
    if (*policy.checkPeriodMinutes != minutes) {
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
        const PolicyReading<std::uint32_t> reading =
            PolicyDwordInRange(values[parts[i].index], parts[i].low, parts[i].high);
        if (!reading.taken) {
            LogIgnored(policy, L"UpdatesSuppressed",
                       Name(parts[i].index) + L" " + (reading.present ? reading.whyRefused : L"missing"));
            return;
        }
        numbers[i] = *reading.taken;
    }
    QuietWindow window;
    window.startMinute = static_cast<int>(numbers[0] * 60 + numbers[1]);
    window.durationMinutes = static_cast<int>(numbers[2]);
    policy.quietWindow = window;
    policy.logEntries.push_back(L" Policy:UpdatesSuppressed=" + QuietWindowText(window));
}

void ReadUpdateUrl(const std::optional<PolicyValue>& value, UpdatePolicy& policy)
{
    if (!value) {
        return;
    }
    std::optional<std::wstring> misfit = Misfit(*value, kUpdateUrl);
    if (!misfit) {
        // Only a URL that passed is ever logged: a refused one may hold a password.
        const std::wstring url = *TextOf(value);
        misfit = BaseUrlProblem(url);
        if (!misfit) {
            policy.updateUrl = url;
            policy.logEntries.push_back(L" Policy:UpdateUrl=" + url);
            return;
        }
    }
    LogIgnored(policy, Name(kUpdateUrl), *misfit);
}

}  // namespace

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

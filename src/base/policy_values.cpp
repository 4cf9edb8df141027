#include "base/policy_values.h"

bool OpenPolicyKey(const wchar_t* room, RegistryKey& key, std::vector<std::wstring>& logEntries)
{
    const std::wstring path = std::wstring(kVelmarPolicyKey) + L"\\" + room;
    const DWORD status = key.Open(HKEY_LOCAL_MACHINE, path.c_str());
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
        logEntries.push_back(L" PolicyIgnored:the policy key could not be opened (Windows error " +
                             std::to_wstring(status) + L")");
    }
    return status == ERROR_SUCCESS;
}

std::optional<std::wstring> PolicyMisfit(const RegistryValue& value, DWORD expected)
{
    switch (FitOf(value, expected)) {
    case ValueFit::Fits:
        return std::nullopt;
    case ValueFit::WrongType:
        return RegistryTypeName(value.type) + L", expected " + RegistryTypeName(expected);
    case ValueFit::TooLarge:
    case ValueFit::WrongSize:
        break;
    }
    return std::wstring(L"out of range");  // a REG_DWORD of other than 4 bytes is as unusable as one too large
}

PolicyReading<std::uint32_t> PolicyDwordInRange(const std::optional<RegistryValue>& value, std::uint32_t low,
                                                std::uint32_t high)
{
    PolicyReading<std::uint32_t> reading;
    reading.present = value.has_value();
    if (!value) {
        return reading;
    }
    if (const auto misfit = PolicyMisfit(*value, REG_DWORD)) {
        reading.whyRefused = *misfit;
        return reading;
    }
    const std::uint32_t number = *DwordOf(value);
    if (number < low || number > high) {
        reading.whyRefused = L"out of range";
        return reading;
    }
    reading.taken = number;
    return reading;
}

std::wstring PolicyIgnoredText(const std::wstring& name, const std::wstring& why)
{
    return L" PolicyIgnored:" + name + L" (" + why + L")";
}

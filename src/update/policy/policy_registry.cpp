#include "update/policy/policy_registry.h"

#include "base/handle_owner.h"

#include <string>
#include <utility>

namespace {

constexpr wchar_t kPolicyKey[] = L"SOFTWARE\\Policies\\Orvanta\\Velmar\\Update";

using RegistryKey = ScopedHandle<NullableHandleTraits<HKEY, &::RegCloseKey>>;

std::optional<PolicyValue> QueryValue(HKEY key, const wchar_t* name)
{
    // One byte over the limit, so data of exactly the limit still fits.
    std::vector<unsigned char> buffer(kMaxPolicyDataBytes + 1);
    DWORD type = REG_NONE;
    DWORD size = static_cast<DWORD>(buffer.size());
    const LONG status = ::RegQueryValueExW(key, name, nullptr, &type, buffer.data(), &size);
    PolicyValue value;
    value.type = type;
    if (status == ERROR_MORE_DATA || (status == ERROR_SUCCESS && size > kMaxPolicyDataBytes)) {
        value.tooLarge = true;
        return value;
    }
    if (status != ERROR_SUCCESS) {
        return std::nullopt;  // absent; a value that cannot be read is no more use than a missing one
    }
    buffer.resize(size);
    value.data = std::move(buffer);
    return value;
}

}  // namespace

UpdatePolicy ReadMachinePolicies()
{
    RegistryKey key;
    const LONG status =
        ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPolicyKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.Put());
    if (status != ERROR_SUCCESS) {
        UpdatePolicy none;
        if (status != ERROR_FILE_NOT_FOUND) {
            none.logEntries.push_back(L" PolicyIgnored:the policy key could not be opened (Windows error " +
                                      std::to_wstring(status) + L")");
        }
        return none;
    }
    return InterpretPolicies([&key](const wchar_t* name) { return QueryValue(key.Get(), name); });
}

#include "update/policy/policy_registry.h"

#include <string>

UpdatePolicy ReadMachinePolicies()
{
    const std::wstring path = std::wstring(kVelmarPolicyKey) + L"\\Update";
    RegistryKey key;
    const DWORD status = key.Open(HKEY_LOCAL_MACHINE, path.c_str());
    if (status != ERROR_SUCCESS) {
        UpdatePolicy none;
        if (status != ERROR_FILE_NOT_FOUND) {
            none.logEntries.push_back(L" PolicyIgnored:the policy key could not be opened (Windows error " +
                                      std::to_wstring(status) + L")");
        }
        return none;
    }
    return InterpretPolicies([&key](const wchar_t* name) { return key.Read(name, kMaxPolicyDataBytes); });
}

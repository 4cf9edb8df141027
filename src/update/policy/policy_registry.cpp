#include "update/policy/policy_registry.h"

UpdatePolicy ReadMachinePolicies()
{
    RegistryKey key;
    std::vector<std::wstring> keyLog;
    if (!OpenPolicyKey(L"Update", key, keyLog)) {
        UpdatePolicy none;
        none.logEntries = keyLog;
        return none;
    }
    return InterpretPolicies([&key](const wchar_t* name) { return key.Read(name, kMaxPolicyDataBytes); });
}

// The one reader and writer of the registry: typed values in its 64-bit view,
// under HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE. A value counts only with its
// exact type and, for numbers, its exact size; anything else reads as absent.
// (Wine's SHGetValueW "succeeds" on a short REG_SZ or REG_BINARY read into a
// DWORD, so no call's status alone says what a value holds.)
#pragma once

#include "base/handle_owner.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Where this program keeps its values: the user's own, and the machine's
// policies (each mode's in a key of its own below this one).
constexpr wchar_t kVelmarUserKey[] = L"Software\\Orvanta Velmar\\Velmar";
constexpr wchar_t kVelmarPolicyKey[] = L"SOFTWARE\\Policies\\Orvanta\\Velmar";

// One value as the registry holds it.
struct RegistryValue {
    DWORD type = REG_NONE;
    std::vector<unsigned char> data;
    bool tooLarge = false;  // over what the reader takes: data is then empty
};

// How a value fits the type asked for, judged in this order.
enum class ValueFit {
    Fits,
    WrongType,
    TooLarge,   // more data than the reader takes
    WrongSize,  // a REG_DWORD of other than 4 bytes, a REG_QWORD of other than 8
};
ValueFit FitOf(const RegistryValue& value, DWORD type);

// The value's contents when it fits; nullopt when absent or not fitting.
std::optional<std::uint32_t> DwordOf(const std::optional<RegistryValue>& value);
std::optional<std::uint64_t> QwordOf(const std::optional<RegistryValue>& value);
// REG_SZ up to its first NUL; a terminator may be missing, an odd last byte is dropped.
std::optional<std::wstring> TextOf(const std::optional<RegistryValue>& value);
// REG_MULTI_SZ: its strings up to the first empty one, terminators missing or not.
std::optional<std::vector<std::wstring>> TextListOf(const std::optional<RegistryValue>& value);
// REG_BINARY of exactly `size` bytes.
std::optional<std::vector<unsigned char>> BytesOf(const std::optional<RegistryValue>& value, std::size_t size);

// "REG_DWORD", ..., or "type N".
std::wstring RegistryTypeName(DWORD type);

using RegistryHandle = ScopedHandle<NullableHandleTraits<HKEY, &::RegCloseKey>>;

// A key opened for reading, for several values.
class RegistryKey {
public:
    // ERROR_SUCCESS; ERROR_FILE_NOT_FOUND when the key is absent; otherwise why it cannot be opened.
    DWORD Open(HKEY root, const wchar_t* path);
    // The value with at most maxBytes of data (more: tooLarge); nullopt when absent or unreadable.
    std::optional<RegistryValue> Read(const wchar_t* name, std::size_t maxBytes) const;

private:
    RegistryHandle key_;
};

// Far more than any list of this program holds; a longer one is not ours.
constexpr std::size_t kMaxTextListBytes = 64 * 1024;

// One value of a key opened for it alone; nullopt when the key or the value is absent or unreadable.
std::optional<RegistryValue> ReadRegistryValue(HKEY root, const wchar_t* path, const wchar_t* name,
                                               std::size_t maxBytes);

// Writes one value, creating the key when missing: ERROR_SUCCESS or the Windows error.
DWORD WriteDword(HKEY root, const wchar_t* path, const wchar_t* name, std::uint32_t value);
DWORD WriteQword(HKEY root, const wchar_t* path, const wchar_t* name, std::uint64_t value);
// An empty list is no value: it is deleted.
DWORD WriteTextList(HKEY root, const wchar_t* path, const wchar_t* name, const std::vector<std::wstring>& texts);
DWORD WriteBytes(HKEY root, const wchar_t* path, const wchar_t* name, const void* data, std::size_t size);
// ERROR_SUCCESS also when the value, or its key, is not there.
DWORD DeleteRegistryValue(HKEY root, const wchar_t* path, const wchar_t* name);

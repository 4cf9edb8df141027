#include "base/registry.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace {

constexpr REGSAM k64BitView = KEY_WOW64_64KEY;

DWORD WriteValue(HKEY root, const wchar_t* path, const wchar_t* name, DWORD type, const void* data, std::size_t size)
{
    RegistryHandle key;
    const LONG created =
        ::RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_SET_VALUE | k64BitView, nullptr, key.Put(), nullptr);
    if (created != ERROR_SUCCESS) {
        return static_cast<DWORD>(created);
    }
    return static_cast<DWORD>(::RegSetValueExW(key.Get(), name, 0, type, static_cast<const BYTE*>(data),
                                               static_cast<DWORD>(size)));
}

// The data as UTF-16 text, an odd last byte dropped.
std::wstring WideOf(const std::vector<unsigned char>& data)
{
    std::wstring text(data.size() / sizeof(wchar_t), L'\0');
    if (!text.empty()) {
        std::memcpy(&text[0], data.data(), text.size() * sizeof(wchar_t));
    }
    return text;
}

}  // namespace

ValueFit FitOf(const RegistryValue& value, DWORD type)
{
    if (value.type != type) {
        return ValueFit::WrongType;
    }
    if (value.tooLarge) {
        return ValueFit::TooLarge;
    }
    const bool sized = (type == REG_DWORD && value.data.size() != 4) || (type == REG_QWORD && value.data.size() != 8);
    return sized ? ValueFit::WrongSize : ValueFit::Fits;
}

std::optional<std::uint32_t> DwordOf(const std::optional<RegistryValue>& value)
{
    if (!value || FitOf(*value, REG_DWORD) != ValueFit::Fits) {
        return std::nullopt;
    }
    std::uint32_t number = 0;
    std::memcpy(&number, value->data.data(), sizeof number);  // little-endian, as REG_DWORD is
    return number;
}

std::optional<std::uint64_t> QwordOf(const std::optional<RegistryValue>& value)
{
    if (!value || FitOf(*value, REG_QWORD) != ValueFit::Fits) {
        return std::nullopt;
    }
    std::uint64_t number = 0;
    std::memcpy(&number, value->data.data(), sizeof number);
    return number;
}

std::optional<std::wstring> TextOf(const std::optional<RegistryValue>& value)
{
    if (!value || FitOf(*value, REG_SZ) != ValueFit::Fits) {
        return std::nullopt;
    }
    const std::wstring text = WideOf(value->data);
    return text.substr(0, text.find(L'\0'));
}

std::optional<std::vector<std::wstring>> TextListOf(const std::optional<RegistryValue>& value)
{
    if (!value || FitOf(*value, REG_MULTI_SZ) != ValueFit::Fits) {
        return std::nullopt;
    }
    const std::wstring text = WideOf(value->data);
    std::vector<std::wstring> texts;
    for (std::size_t at = 0; at < text.size() && text[at] != L'\0';) {
        const std::size_t end = std::min(text.find(L'\0', at), text.size());
        texts.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return texts;
}

std::optional<std::vector<unsigned char>> BytesOf(const std::optional<RegistryValue>& value, std::size_t size)
{
    if (!value || FitOf(*value, REG_BINARY) != ValueFit::Fits || value->data.size() != size) {
        return std::nullopt;
    }
    return value->data;
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

DWORD RegistryKey::Open(HKEY root, const wchar_t* path)
{
    return static_cast<DWORD>(::RegOpenKeyExW(root, path, 0, KEY_QUERY_VALUE | k64BitView, key_.Put()));
}

std::optional<RegistryValue> RegistryKey::Read(const wchar_t* name, std::size_t maxBytes) const
{
    if (!key_.Valid()) {
        return std::nullopt;
    }
    // One byte over the limit, so data of exactly the limit still fits.
    std::vector<unsigned char> buffer(maxBytes + 1);
    RegistryValue value;
    DWORD size = static_cast<DWORD>(buffer.size());
    const LONG status = ::RegQueryValueExW(key_.Get(), name, nullptr, &value.type, buffer.data(), &size);
    if (status == ERROR_MORE_DATA || (status == ERROR_SUCCESS && size > maxBytes)) {
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

std::optional<RegistryValue> ReadRegistryValue(HKEY root, const wchar_t* path, const wchar_t* name,
                                               std::size_t maxBytes)
{
    RegistryKey key;
    return key.Open(root, path) == ERROR_SUCCESS ? key.Read(name, maxBytes) : std::nullopt;
}

DWORD WriteDword(HKEY root, const wchar_t* path, const wchar_t* name, std::uint32_t value)
{
    return WriteValue(root, path, name, REG_DWORD, &value, sizeof value);
}

DWORD WriteQword(HKEY root, const wchar_t* path, const wchar_t* name, std::uint64_t value)
{
    return WriteValue(root, path, name, REG_QWORD, &value, sizeof value);
}

DWORD WriteTextList(HKEY root, const wchar_t* path, const wchar_t* name, const std::vector<std::wstring>& texts)
{
    if (texts.empty()) {
        return DeleteRegistryValue(root, path, name);
    }
    std::wstring list;
    for (const std::wstring& text : texts) {
        list += text;
        list += L'\0';
    }
    list += L'\0';
    return WriteValue(root, path, name, REG_MULTI_SZ, list.data(), list.size() * sizeof(wchar_t));
}

DWORD WriteBytes(HKEY root, const wchar_t* path, const wchar_t* name, const void* data, std::size_t size)
{
    return WriteValue(root, path, name, REG_BINARY, data, size);
}

DWORD DeleteRegistryValue(HKEY root, const wchar_t* path, const wchar_t* name)
{
    RegistryHandle key;
    LONG status = ::RegOpenKeyExW(root, path, 0, KEY_SET_VALUE | k64BitView, key.Put());
    if (status == ERROR_SUCCESS) {
        status = ::RegDeleteValueW(key.Get(), name);
    }
    return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : static_cast<DWORD>(status);
}

#include "platform/Registry.h"

#include <algorithm>

LSTATUS OpenRegistryKey(HKEY root, const wchar_t* path, REGSAM access, os::UniqueKey& key)
{
    key.reset();
    if (path == nullptr || *path == L'\0') {
        return ERROR_FILE_NOT_FOUND;
    }
    return ::RegOpenKeyExW(root, path, 0, access, key.put());
}

LSTATUS SetTextValue(HKEY key, const wchar_t* name, std::wstring_view text, DWORD type)
{
    // The view need not be terminated: the value is built with its terminator.
    const std::wstring terminated(text);
    return ::RegSetValueExW(key, name, 0, type,
                            reinterpret_cast<const BYTE*>(terminated.c_str()),
                            TextValueBytes(terminated));
}

LSTATUS SetNumberValue(HKEY key, const wchar_t* name, DWORD number)
{
    return ::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                            sizeof number);
}

LSTATUS QueryValue(HKEY key, const wchar_t* name, std::size_t capacity, RegistryValue& value)
{
    if (key == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    // Room for at least one byte, so that a capacity of 0 still asks for the data (and refuses
    // any) rather than only for its size.
    std::vector<std::uint8_t> data(std::max<std::size_t>(capacity, 1));
    DWORD type = REG_NONE;
    auto bytes = static_cast<DWORD>(capacity);
    const LSTATUS result = ::RegQueryValueExW(key, name, nullptr, &type, data.data(), &bytes);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    data.resize(bytes);
    value = {type, std::move(data)};
    return ERROR_SUCCESS;
}

bool QueryRawNumber(HKEY key, const wchar_t* name, std::uint32_t& value)
{
    // Exactly 4 bytes of room: the registry itself refuses longer data (ERROR_MORE_DATA).
    RegistryValue raw;
    return QueryValue(key, name, kRawNumberBytes, raw) == ERROR_SUCCESS &&
           MergeRawNumber(raw.data, value);
}

// Writing the service's settings as an administrator does, in the 32-bit view of the registry.
#pragma once

#include "platform/UniqueResource.h"

#include <string>

namespace testing_support {

inline constexpr const wchar_t* kSettingsKey = L"SOFTWARE\\Velmora\\MRX";
inline constexpr const wchar_t* kProcessListKey = L"SOFTWARE\\Velmora\\MRX\\ProcessExclusionList";

inline void SetSetting(const wchar_t* path, const wchar_t* name, DWORD type, const void* data,
                       DWORD bytes)
{
    os::UniqueKey key;
    ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_WRITE | KEY_WOW64_32KEY,
                      nullptr, key.put(), nullptr);
    ::RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data), bytes);
}

inline void SetNumber(const wchar_t* path, const wchar_t* name, DWORD value)
{
    SetSetting(path, name, REG_DWORD, &value, sizeof value);
}

inline void SetText(const wchar_t* name, const std::wstring& text)
{
    SetSetting(kSettingsKey, name, REG_SZ, text.c_str(),
               static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

inline void RemoveSettings()
{
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Wow6432Node\\Velmora");
}

}  // namespace testing_support

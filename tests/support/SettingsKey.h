// Writing the service's settings as an administrator does, in the 32-bit view of the registry.
#pragma once

#include "platform/Registry.h"

#include <string>

namespace testing_support {

inline constexpr const wchar_t* kSettingsKey = L"SOFTWARE\\Velmora\\MRX";
inline constexpr const wchar_t* kProcessListKey = L"SOFTWARE\\Velmora\\MRX\\ProcessExclusionList";
inline constexpr const wchar_t* kComponentListKey =
    L"SOFTWARE\\Velmora\\MRX\\ComponentExclusionList";

inline os::UniqueKey CreateSettingsKey(const wchar_t* path)
{
    os::UniqueKey key;
    ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_WRITE | KEY_WOW64_32KEY,
                      nullptr, key.put(), nullptr);
    return key;
}

inline void SetSetting(const wchar_t* path, const wchar_t* name, DWORD type, const void* data,
                       DWORD bytes)
{
    ::RegSetValueExW(CreateSettingsKey(path).get(), name, 0, type,
                     static_cast<const BYTE*>(data), bytes);
}

inline void SetNumber(const wchar_t* path, const wchar_t* name, DWORD value)
{
    static_cast<void>(SetNumberValue(CreateSettingsKey(path).get(), name, value));
}

inline void SetText(const wchar_t* name, const std::wstring& text)
{
    static_cast<void>(SetTextValue(CreateSettingsKey(kSettingsKey).get(), name, text));
}

// Removes every setting at the end of its scope, whatever the test wrote and however it ended.
struct RemoveSettingsAtTheEnd {
    RemoveSettingsAtTheEnd() = default;
    RemoveSettingsAtTheEnd(const RemoveSettingsAtTheEnd&) = delete;
    RemoveSettingsAtTheEnd& operator=(const RemoveSettingsAtTheEnd&) = delete;
    ~RemoveSettingsAtTheEnd()
    {
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Wow6432Node\\Velmora");
    }
};

}  // namespace testing_support

#include "platform/win/WindowsPlatform.h"

namespace os {
namespace {

class WindowsRegistryImpl final : public IRegistry {
public:
    LSTATUS RegOpenKeyExW(HKEY parent, const wchar_t* subKey, DWORD options, REGSAM access,
                          HKEY* key) override
    {
        return ::RegOpenKeyExW(parent, subKey, options, access, key);
    }

    LSTATUS RegQueryValueExW(HKEY key, const wchar_t* name, DWORD* type, BYTE* data,
                             DWORD* size) override
    {
        return ::RegQueryValueExW(key, name, nullptr, type, data, size);
    }

    LSTATUS RegEnumValueW(HKEY key, DWORD index, wchar_t* name, DWORD* nameChars,
                          DWORD* type) override
    {
        return ::RegEnumValueW(key, index, name, nameChars, nullptr, type, nullptr, nullptr);
    }

    LSTATUS RegNotifyChangeKeyValue(HKEY key, BOOL watchSubtree, DWORD filter, HANDLE event,
                                    BOOL asynchronous) override
    {
        return ::RegNotifyChangeKeyValue(key, watchSubtree, filter, event, asynchronous);
    }

    LSTATUS RegCloseKey(HKEY key) override { return ::RegCloseKey(key); }

    LSTATUS RegSetValueExW(HKEY key, const wchar_t* name, DWORD type, const BYTE* data,
                           DWORD size) override
    {
        return ::RegSetValueExW(key, name, 0, type, data, size);
    }

    LSTATUS RegDeleteValueW(HKEY key, const wchar_t* name) override
    {
        return ::RegDeleteValueW(key, name);
    }
};

}  // namespace

IRegistry& WindowsRegistry() { return LeakyInstance<WindowsRegistryImpl>(); }

}  // namespace os

#include "image/ExclusionListRegistry.h"

#include "settings/SettingsKey.h"

#include <span>

namespace {

constexpr const wchar_t* kDefaultComponentLevelValue = L"DefaultComponentOptimizationLevel";
constexpr const wchar_t* kDefaultProcessLevelValue = L"DefaultProcessOptimizationLevel";
constexpr DWORD kValueNameCapacity = 255;  // characters, the terminator included
constexpr DWORD kLevelDataCapacity = 255;  // bytes: room to see that longer data is no level

void ReadDefaultLevels(HKEY serviceKey, ExclusionList& list)
{
    static_cast<void>(
        QueryRawNumber(serviceKey, kDefaultComponentLevelValue, list.defaultComponentLevel));
    static_cast<void>(
        QueryRawNumber(serviceKey, kDefaultProcessLevelValue, list.defaultProcessLevel));
}

}  // namespace

bool LoadExclusionList(ExclusionList& list, HKEY serviceKey, const wchar_t* keyPath,
                       std::uint32_t isProcessList)
{
    list.kind = isProcessList;
    list.entries.clear();
    ReadDefaultLevels(serviceKey, list);

    os::UniqueKey key;
    if (OpenSettingsKey(keyPath, kSettingsReadAccess, key) != ERROR_SUCCESS) {
        return false;
    }
    // Any failure ends the enumeration, the end of the values as much as a name too long for the
    // buffer.
    for (DWORD index = 0;; ++index) {
        wchar_t valueName[kValueNameCapacity] = {};
        DWORD nameChars = kValueNameCapacity;
        DWORD type = REG_NONE;
        if (::RegEnumValueW(key.get(), index, valueName, &nameChars, nullptr, &type, nullptr,
                            nullptr) != ERROR_SUCCESS) {
            return true;
        }
        // A text entry's data is not needed; a number whose data cannot be read is no entry.
        BYTE data[kLevelDataCapacity] = {};
        DWORD size = 0;
        if (type != REG_SZ) {
            size = sizeof data;
            if (::RegQueryValueExW(key.get(), valueName, nullptr, nullptr, data, &size) !=
                ERROR_SUCCESS) {
                continue;
            }
        }
        static_cast<void>(AddExclusionEntry(list, std::wstring_view(valueName, nameChars), type,
                                            std::span<const std::uint8_t>(data, size)));
    }
}

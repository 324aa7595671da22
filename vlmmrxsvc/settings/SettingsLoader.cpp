#include "settings/SettingsLoader.h"

#include "platform/Registry.h"
#include "platform/ResourceString.h"
#include "resources/StringTable.h"
#include "settings/RepairFileSetting.h"

namespace {

constexpr const wchar_t* kSystemLevelValue = L"DefaultSystemOptimizationLevel";
constexpr const wchar_t* kDefaultComponentLevelValue = L"DefaultComponentOptimizationLevel";
constexpr const wchar_t* kDefaultProcessLevelValue = L"DefaultProcessOptimizationLevel";
constexpr DWORD kValueNameCapacity = 255;  // characters, the terminator included
constexpr DWORD kLevelDataCapacity = 255;  // bytes: room to see that longer data is no level

// Adds one entry to `list` for each value of the open list key `listKey` (AddExclusionEntry), in
// the registry's enumeration order; a null key adds none.
void LoadExclusionEntries(ExclusionList& list, HKEY listKey)
{
    if (listKey == nullptr) {
        return;
    }
    // Any failure ends the enumeration, the end of the values as much as a name too long for the
    // buffer.
    for (DWORD index = 0;; ++index) {
        wchar_t valueName[kValueNameCapacity] = {};
        DWORD nameChars = kValueNameCapacity;
        DWORD type = REG_NONE;
        if (::RegEnumValueW(listKey, index, valueName, &nameChars, nullptr, &type, nullptr,
                            nullptr) != ERROR_SUCCESS) {
            return;
        }
        // A text entry's data is not needed; a number whose data cannot be read is no entry.
        RegistryValue data;
        if (type != REG_SZ &&
            QueryValue(listKey, valueName, kLevelDataCapacity, data) != ERROR_SUCCESS) {
            continue;
        }
        static_cast<void>(
            AddExclusionEntry(list, std::wstring_view(valueName, nameChars), type, data.data));
    }
}

// Rebuilds `list` as a list of `kind`: both default levels re-read from the open service key (one
// that cannot be read keeps its value), then the entries of the list key named by string
// `keyText`. A list key that is missing leaves the list empty, which is what the lookups then see.
void ReloadList(ExclusionList& list, std::uint32_t kind, HKEY serviceKey, UINT keyText)
{
    list.kind = kind;
    static_cast<void>(
        QueryRawNumber(serviceKey, kDefaultComponentLevelValue, list.defaultComponentLevel));
    static_cast<void>(
        QueryRawNumber(serviceKey, kDefaultProcessLevelValue, list.defaultProcessLevel));
    os::UniqueKey listKey;
    static_cast<void>(OpenRegistryKey(HKEY_LOCAL_MACHINE, LoadResourceString(keyText).c_str(),
                                      kSettingsReadAccess, listKey));
    LoadExclusionEntries(list, listKey.get());
}

}  // namespace

const wchar_t* ServiceKeyPath()
{
    static const std::wstring path = LoadResourceString(IDS_SERVICE_KEY);
    return path.c_str();
}

bool LoadSettings(ServiceSettings& settings, ExclusionLists& lists,
                  std::atomic<std::uint32_t>& systemLevel)
{
    os::UniqueKey key;
    if (OpenRegistryKey(HKEY_LOCAL_MACHINE, ServiceKeyPath(), kSettingsReadAccess, key) !=
        ERROR_SUCCESS) {
        return false;
    }
    ReadServiceSettings(settings, [&key](const wchar_t* name, std::uint32_t& value) {
        return QueryRawNumber(key.get(), name, value);
    });
    ExclusionList components;
    ExclusionList processes;
    lists.FreshCopies(components, processes);
    ReloadList(components, kComponentList, key.get(), IDS_COMPONENT_EXCLUSION_KEY);
    ReloadList(processes, kProcessList, key.get(), IDS_PROCESS_EXCLUSION_KEY);
    lists.Replace(components, processes);
    std::uint32_t level = systemLevel;
    if (QueryRawNumber(key.get(), kSystemLevelValue, level)) {
        systemLevel = level;
    }
    return true;
}

std::wstring ConfiguredRepairFile()
{
    os::UniqueKey key;
    RegistryValue value;
    if (OpenRegistryKey(HKEY_LOCAL_MACHINE, ServiceKeyPath(), kSettingsReadAccess, key) !=
            ERROR_SUCCESS ||
        QueryValue(key.get(), kRepairPendingFileValue, kRepairFileSettingBytes, value) !=
            ERROR_SUCCESS) {
        return {};
    }
    return RepairFileFromSetting(value.data);
}

#include "image/ExclusionList.h"

#include "platform/RegistryNumber.h"
#include "platform/Text.h"
#include "platform/UniqueResource.h"
#include "resources/StringTable.h"

#include <algorithm>
#include <new>

namespace {

// The parent of both list keys, which holds the two default levels.
constexpr const wchar_t* kServiceKey = L"" STR_SERVICE_KEY;
constexpr const wchar_t* kDefaultComponentLevelValue = L"DefaultComponentOptimizationLevel";
constexpr const wchar_t* kDefaultProcessLevelValue = L"DefaultProcessOptimizationLevel";
// The configuration lives in the 32-bit view, also for this 64-bit service.
constexpr REGSAM kListAccess = KEY_QUERY_VALUE | KEY_WOW64_32KEY;
constexpr DWORD kValueNameCapacity = 255;  // characters, the terminator included
constexpr DWORD kLevelDataCapacity = 255;  // bytes
constexpr DWORD kLevelBytes = sizeof(DWORD);

void ReadDefaultLevels(ExclusionList& list)
{
    os::UniqueKey key;
    if (os::Registry().RegOpenKeyExW(HKEY_LOCAL_MACHINE, kServiceKey, 0, kListAccess,
                                     key.put()) != ERROR_SUCCESS) {
        return;
    }
    static_cast<void>(QueryRawNumber(key.get(), kDefaultComponentLevelValue,
                                     list.defaultComponentLevel));
    static_cast<void>(QueryRawNumber(key.get(), kDefaultProcessLevelValue,
                                     list.defaultProcessLevel));
}

DWORD DefaultLevelOf(const ExclusionList& list)
{
    return list.kind != kComponentList ? list.defaultProcessLevel : list.defaultComponentLevel;
}

// The level stored as the data of a value that is not REG_SZ: exactly 4 bytes, or no level.
bool ReadLevelData(HKEY key, const wchar_t* valueName, DWORD& level)
{
    alignas(DWORD) BYTE data[kLevelDataCapacity] = {};
    DWORD size = sizeof data;
    if (os::Registry().RegQueryValueExW(key, valueName, nullptr, data, &size) != ERROR_SUCCESS ||
        size != kLevelBytes) {
        return false;
    }
    std::copy_n(data, kLevelBytes, reinterpret_cast<BYTE*>(&level));
    return true;
}

bool IsListed(const ExclusionList& list, const std::wstring& name)
{
    return std::any_of(list.entries.begin(), list.entries.end(),
                       [&](const ExclusionEntry& entry) { return entry.name == name; });
}

std::wstring UpperFileName(const wchar_t* path)
{
    std::wstring name(FileNamePart(path));
    UpperCase(name);
    return name;
}

// Adds the entry unless its file name is listed already.
void AddEntry(ExclusionList& list, const wchar_t* valueName, DWORD level)
{
    try {
        std::wstring name = UpperFileName(valueName);
        if (!IsListed(list, name)) {
            list.entries.push_back({std::move(name), level});
        }
    } catch (const std::bad_alloc&) {
        // No memory for this entry: it is dropped and the list stands without it.
    }
}

}  // namespace

bool LoadExclusionList(ExclusionList& list, const wchar_t* keyPath, DWORD isProcessList)
{
    list.kind = isProcessList;
    list.entries.clear();
    ReadDefaultLevels(list);

    os::UniqueKey key;
    if (os::Registry().RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, kListAccess, key.put()) !=
        ERROR_SUCCESS) {
        return false;
    }
    // Any failure ends the enumeration, the end of the values as much as a name too long for the
    // buffer.
    for (DWORD index = 0;; ++index) {
        wchar_t valueName[kValueNameCapacity] = {};
        DWORD nameChars = kValueNameCapacity;
        DWORD type = REG_NONE;
        if (os::Registry().RegEnumValueW(key.get(), index, valueName, &nameChars, &type) !=
            ERROR_SUCCESS) {
            return true;
        }
        DWORD level = DefaultLevelOf(list);
        if (type != REG_SZ && !ReadLevelData(key.get(), valueName, level)) {
            continue;
        }
        AddEntry(list, valueName, level);
    }
}

DWORD GetOptimizationLevel(const ExclusionList& list, const wchar_t* path)
{
    const std::wstring name = UpperFileName(path == nullptr ? L"" : path);
    for (const ExclusionEntry& entry : list.entries) {
        if (entry.name == name) {
            return entry.level;
        }
    }
    return list.defaultProcessLevel;
}

#include "settings/SettingsKey.h"

#include "platform/ResourceString.h"
#include "resources/StringTable.h"
#include "settings/RawNumber.h"

#include <span>
#include <string>

const wchar_t* ServiceKeyPath()
{
    static const std::wstring path = LoadResourceString(IDS_SERVICE_KEY);
    return path.c_str();
}

LSTATUS OpenSettingsKey(const wchar_t* path, REGSAM access, os::UniqueKey& key)
{
    key.reset();
    // An empty path would open HKEY_LOCAL_MACHINE itself.
    if (path == nullptr || *path == L'\0') {
        return ERROR_FILE_NOT_FOUND;
    }
    return ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, access, key.put());
}

bool QueryRawNumber(HKEY key, const wchar_t* name, std::uint32_t& value)
{
    if (key == nullptr) {
        return false;
    }
    // Exactly 4 bytes of room: the registry itself refuses longer data (ERROR_MORE_DATA).
    BYTE data[kRawNumberBytes] = {};
    DWORD size = sizeof data;
    if (::RegQueryValueExW(key, name, nullptr, nullptr, data, &size) != ERROR_SUCCESS) {
        return false;
    }
    return MergeRawNumber(std::span<const std::uint8_t>(data, size), value);
}

// The service's registry key, HKEY_LOCAL_MACHINE\SOFTWARE\Velmora\MRX, and the keys below it.
// They are read in the 32-bit view of the registry, also by this 64-bit service: on 64-bit
// Windows they live under SOFTWARE\WOW6432Node.
#pragma once

#include "platform/UniqueResource.h"

#include <cstdint>

// The rights with which the settings, the exclusion lists and the repair-pending file's location
// are read, and with which the watcher asks for change notifications.
inline constexpr REGSAM kSettingsReadAccess = KEY_QUERY_VALUE | KEY_WOW64_32KEY;
inline constexpr REGSAM kSettingsWatchAccess = KEY_READ | KEY_WOW64_32KEY;  // KEY_NOTIFY included

// The path of the service key below HKEY_LOCAL_MACHINE (string 108 of the string table).
[[nodiscard]] const wchar_t* ServiceKeyPath();

// Opens `path` below HKEY_LOCAL_MACHINE in the 32-bit view with `access` (which must include
// KEY_WOW64_32KEY). Returns the registry's result; `key` is empty unless it is ERROR_SUCCESS.
[[nodiscard]] LSTATUS OpenSettingsKey(const wchar_t* path, REGSAM access, os::UniqueKey& key);

// Queries value `name` of `key` by the raw-number rule (MergeRawNumber): data of 4 bytes or fewer
// replaces that many leading bytes of `value` and the result is true. A value that is absent,
// longer than 4 bytes or unreadable, or a null `key`, gives false and leaves `value` untouched.
[[nodiscard]] bool QueryRawNumber(HKEY key, const wchar_t* name, std::uint32_t& value);

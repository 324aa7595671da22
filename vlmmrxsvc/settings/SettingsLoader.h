// The service's settings in the registry: the key HKEY_LOCAL_MACHINE\SOFTWARE\Velmora\MRX and the
// keys below it, read in the 32-bit view of the registry, also by this 64-bit service (on 64-bit
// Windows they live under SOFTWARE\WOW6432Node).
#pragma once

#include "image/ExclusionList.h"
#include "platform/UniqueResource.h"
#include "settings/ServiceSettings.h"

#include <atomic>
#include <cstdint>
#include <string>

// The rights with which the settings, the exclusion lists and the repair-pending file's location
// are read, and with which the watcher asks for change notifications.
inline constexpr REGSAM kSettingsReadAccess = KEY_QUERY_VALUE | KEY_WOW64_32KEY;
inline constexpr REGSAM kSettingsWatchAccess = KEY_READ | KEY_WOW64_32KEY;  // KEY_NOTIFY included

// The path of the service key below HKEY_LOCAL_MACHINE (string 108 of the string table).
[[nodiscard]] const wchar_t* ServiceKeyPath();

// Reads the settings from the service key into `settings`, each value whole and converted or,
// when it cannot be read, its default (ReadServiceSettings); rebuilds both exclusion lists aside,
// with the default levels of the service key and the entries of the list keys (strings 115 and
// 107), and swaps them into `lists` at once; reads "DefaultSystemOptimizationLevel" into
// `systemLevel` when it can. False, with nothing touched, only when the service key cannot be
// opened.
[[nodiscard]] bool LoadSettings(ServiceSettings& settings, ExclusionLists& lists,
                                std::atomic<std::uint32_t>& systemLevel);

// The repair-pending file the settings name (RepairFileFromSetting of the "RepairPendingFile"
// value, read afresh on every call). Empty when there is no such value or it names no usable
// path.
[[nodiscard]] std::wstring ConfiguredRepairFile();

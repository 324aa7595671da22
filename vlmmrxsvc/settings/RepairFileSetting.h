// Where the repair-pending file is configured. The service reads it, and so does the report tool,
// which shares nothing else with the service's Windows layer.
#pragma once

#include "platform/ByteFields.h"
#include "resources/StringTable.h"

#include <string>

// The service key below HKEY_LOCAL_MACHINE, read in the 32-bit view (the text of string 108,
// which the service itself loads from its string table).
inline constexpr const wchar_t* kServiceKeyText = L"" STR_SERVICE_KEY;
// Its value that names the repair-pending file.
inline constexpr const wchar_t* kRepairPendingFileValue = L"RepairPendingFile";
// The bytes of that value that are read: room for 260 characters, so that a longer text gives
// no usable path.
inline constexpr std::size_t kRepairFileSettingBytes = 520;

// The file the service uses for the value's `data` (at most kRepairFileSettingBytes), whatever its
// registry type: the bytes as UTF-16 text up to the first terminator (an odd last byte is the low
// half of a unit), then RepairFilePath. Empty when that names no usable path.
[[nodiscard]] std::wstring RepairFileFromSetting(ByteSpan data);

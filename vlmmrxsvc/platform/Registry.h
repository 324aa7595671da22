// The registry calls of the service, each the one way to do its job: opening a key, writing a
// text with its terminator or a number, and reading a value's type and bytes with its size
// bounded. What the bytes mean is decided over them (RegistryData.h).
#pragma once

#include "platform/RegistryData.h"
#include "platform/UniqueResource.h"

#include <string_view>
#include <vector>

// Opens `path` below `root` with `access`. Returns the registry's result; `key` is empty unless
// it is ERROR_SUCCESS. An empty or null path gives ERROR_FILE_NOT_FOUND: it would open `root`
// itself.
[[nodiscard]] LSTATUS OpenRegistryKey(HKEY root, const wchar_t* path, REGSAM access,
                                      os::UniqueKey& key);

// Writes `text` and its terminator as value `name` of `key`, of `type` (REG_SZ or REG_EXPAND_SZ).
[[nodiscard]] LSTATUS SetTextValue(HKEY key, const wchar_t* name, std::wstring_view text,
                                   DWORD type = REG_SZ);

// Writes `number` as the REG_DWORD value `name` of `key`.
[[nodiscard]] LSTATUS SetNumberValue(HKEY key, const wchar_t* name, DWORD number);

// A value as the registry holds it.
struct RegistryValue {
    DWORD type = REG_NONE;
    std::vector<std::uint8_t> data;
};

// Reads value `name` of `key` when its data takes at most `capacity` bytes. Returns the
// registry's result (ERROR_MORE_DATA for longer data, ERROR_FILE_NOT_FOUND for none); `value` is
// untouched unless it is ERROR_SUCCESS. A null `key` gives ERROR_INVALID_HANDLE.
[[nodiscard]] LSTATUS QueryValue(HKEY key, const wchar_t* name, std::size_t capacity,
                                 RegistryValue& value);

// Reads value `name` of `key` by the raw-number rule (MergeRawNumber) into `value`: true when it
// was merged in; false, `value` untouched, when the value is absent, longer than 4 bytes or
// cannot be read, or `key` is null.
[[nodiscard]] bool QueryRawNumber(HKEY key, const wchar_t* name, std::uint32_t& value);

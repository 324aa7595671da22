// Reading a registry value as a raw 32-bit number, the way the service's configuration is read.
#pragma once

#include "platform/Platform.h"

// Queries value `name` of `key` through a 4-byte buffer that holds `value`, whatever the value's
// type: data of 4 bytes or fewer replaces that many leading (low-order) bytes of `value` and the
// result is true. A value that is absent, longer than 4 bytes or unreadable gives false and
// leaves `value` untouched.
[[nodiscard]] inline bool QueryRawNumber(HKEY key, const wchar_t* name, DWORD& value)
{
    DWORD number = value;  // the registry leaves a buffer undefined when the data does not fit
    DWORD size = sizeof number;
    if (os::Registry().RegQueryValueExW(key, name, nullptr, reinterpret_cast<BYTE*>(&number),
                                        &size) != ERROR_SUCCESS) {
        return false;
    }
    value = number;
    return true;
}

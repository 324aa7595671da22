// Texts of the executable's string table.
#pragma once

#include "platform/Windows.h"

#include <string>

// String `id` of the running executable's string table; empty when it has no such string.
[[nodiscard]] std::wstring LoadResourceString(UINT id);

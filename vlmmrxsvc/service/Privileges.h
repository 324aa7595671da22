// Switching one privilege of a token on or off.
#pragma once

#include "platform/Windows.h"

// Enables or disables one privilege of `token` (opened with TOKEN_ADJUST_PRIVILEGES). True only
// when the adjustment left no error: a privilege the token does not hold gives false.
[[nodiscard]] bool SetPrivilege(HANDLE token, const wchar_t* privilege, bool enable);

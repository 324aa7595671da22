// Paths as the process-status calls report them: through fixed buffers of the platform's path
// length and a terminator.
#pragma once

#include "image/ImageFile.h"
#include "platform/WinTypes.h"

#include <array>

using PathBuffer = std::array<wchar_t, kImagePathCharacters + 1>;

// GetModuleFileNameExW of `module` (null: the process's main executable) into `buffer`, which
// always ends with a terminator afterwards. It is asked with room for the whole buffer, so that a
// name of kImagePathCharacters characters or more gives a result of at least
// kImagePathCharacters whatever the platform's rule for cutting names. The call's result: 0 on
// failure.
DWORD QueryModuleFileName(HANDLE process, HMODULE module, PathBuffer& buffer);

// Whether `path` is reachable under the identity the thread acts as.
bool IsReachable(const wchar_t* path);

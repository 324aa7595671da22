// Paths as the process-status calls report them (through fixed buffers of the platform's path
// length and a terminator), and paths that only a process's owner can reach.
#pragma once

#include "platform/Paths.h"
#include "platform/Windows.h"

#include <array>
#include <optional>
#include <string>

using PathBuffer = std::array<wchar_t, kImagePathCharacters + 1>;

// GetModuleFileNameExW of `module` (null: the process's main executable) into `buffer`, which
// always ends with a terminator afterwards. It is asked with room for the whole buffer, so that a
// name of kImagePathCharacters characters or more gives a result of at least
// kImagePathCharacters whatever the platform's rule for cutting names. The call's result: 0 on
// failure.
DWORD QueryModuleFileName(HANDLE process, HMODULE module, PathBuffer& buffer);

// Whether `path` is reachable under the identity the thread acts as.
[[nodiscard]] bool IsReachable(const wchar_t* path);

// Whether `path` is a device or universal path (it begins with a backslash): as reachable as it
// gets, never converted.
[[nodiscard]] bool IsDevicePath(const std::wstring& path);

// While acting as the owner of process `processId` for this call alone, asks for the universal
// name of `path` on a drive that the owner mapped to a share (GetUniversalName, at most
// `capacity` characters). False when the owner could not be impersonated; otherwise true, with
// `universal` holding the converted name, or nothing when the path does not convert or is a
// device path (which no provider converts, so it is not asked). The thread is back to its own
// identity when this returns.
[[nodiscard]] bool ConvertAsOwner(DWORD processId, const std::wstring& path, DWORD capacity,
                                  std::optional<std::wstring>& universal);

// Joining the remembered share of a disconnected network drive with the rest of a path on that
// drive, the way the service names such a file.
#pragma once

#include "platform/Paths.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Whether the parts fit the platform's path-splitting buffers (drive 2, directory 255, name and
// extension 259 characters each).
[[nodiscard]] bool FitsSplitBuffers(const PathParts& parts);

// The share's remote name, a backslash unless the directory begins with one, then the directory,
// name and extension of `parts`; nothing when the four lengths and 4 exceed `capacity`
// characters, or the joined text and its terminator would not fit in them.
[[nodiscard]] std::optional<std::wstring> JoinRememberedShare(std::wstring_view remoteName,
                                                              const PathParts& parts,
                                                              std::size_t capacity);

// Reads and writes at a position of a file opened for synchronous access, without moving (or
// relying on) the file pointer.
#pragma once

#include "platform/Windows.h"

#include <cstdint>
#include <span>

// Reads up to `into.size()` bytes at `offset`; how many arrived, 0 at the end or on a failure.
[[nodiscard]] std::size_t ReadFileAt(HANDLE file, std::uint64_t offset,
                                     std::span<std::uint8_t> into);

// Writes all of `bytes` at `offset`; false when any of them did not reach the file.
[[nodiscard]] bool WriteFileAt(HANDLE file, std::uint64_t offset,
                               std::span<const std::uint8_t> bytes);

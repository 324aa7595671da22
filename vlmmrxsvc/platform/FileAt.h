// Reads and writes at a position of a file opened for synchronous access, without moving (or
// relying on) the file pointer: the one positional file access of the service and its report tool.
// Header-only, so that the report tool uses it without the service's Windows layer.
#pragma once

#include "platform/Windows.h"

#include <algorithm>
#include <cstdint>
#include <span>

namespace file_at {

inline constexpr unsigned kHighHalfShift = 32;

inline OVERLAPPED At(std::uint64_t offset)
{
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(offset);
    position.OffsetHigh = static_cast<DWORD>(offset >> kHighHalfShift);
    return position;
}

inline DWORD LargestTransfer(std::size_t bytes)
{
    return static_cast<DWORD>(std::min<std::size_t>(bytes, MAXDWORD));
}

}  // namespace file_at

// Reads `into.size()` bytes at `offset`, in as many reads as the system needs; how many arrived.
// Fewer only at the end of the file or where a read fails, so that a short count is never taken
// for the whole.
[[nodiscard]] inline std::size_t ReadFileAt(HANDLE file, std::uint64_t offset,
                                            std::span<std::uint8_t> into)
{
    std::size_t total = 0;
    while (total < into.size()) {
        OVERLAPPED position = file_at::At(offset + total);
        DWORD read = 0;
        if (::ReadFile(file, into.data() + total, file_at::LargestTransfer(into.size() - total),
                       &read, &position) == FALSE ||
            read == 0) {
            break;
        }
        total += read;
    }
    return total;
}

// Writes all of `bytes` at `offset`; false when any of them did not reach the file.
[[nodiscard]] inline bool WriteFileAt(HANDLE file, std::uint64_t offset,
                                      std::span<const std::uint8_t> bytes)
{
    OVERLAPPED position = file_at::At(offset);
    DWORD written = 0;
    return ::WriteFile(file, bytes.data(), file_at::LargestTransfer(bytes.size()), &written,
                       &position) != FALSE &&
           written == bytes.size();
}

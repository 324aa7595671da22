#include "platform/FileAt.h"

#include <algorithm>

namespace {

constexpr unsigned kHighHalfShift = 32;

OVERLAPPED At(std::uint64_t offset)
{
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(offset);
    position.OffsetHigh = static_cast<DWORD>(offset >> kHighHalfShift);
    return position;
}

DWORD LargestTransfer(std::size_t bytes)
{
    return static_cast<DWORD>(std::min<std::size_t>(bytes, MAXDWORD));
}

}  // namespace

std::size_t ReadFileAt(HANDLE file, std::uint64_t offset, std::span<std::uint8_t> into)
{
    OVERLAPPED position = At(offset);
    DWORD read = 0;
    return ::ReadFile(file, into.data(), LargestTransfer(into.size()), &read, &position) != FALSE
               ? read
               : 0;
}

bool WriteFileAt(HANDLE file, std::uint64_t offset, std::span<const std::uint8_t> bytes)
{
    OVERLAPPED position = At(offset);
    DWORD written = 0;
    return ::WriteFile(file, bytes.data(), LargestTransfer(bytes.size()), &written, &position) !=
               FALSE &&
           written == bytes.size();
}

// Registry data as the service reads and writes it, decided over the bytes alone so that the rules
// run the same natively and on Windows: raw numbers, terminated texts, and the byte count of a
// text written with its terminator.
#pragma once

#include "platform/ByteFields.h"

#include <cstdint>
#include <string_view>

inline constexpr std::uint32_t kRegistryTextType = 1;            // REG_SZ
inline constexpr std::uint32_t kRegistryExpandableTextType = 2;  // REG_EXPAND_SZ

inline constexpr std::size_t kRawNumberBytes = sizeof(std::uint32_t);

// The raw-number rule by which the service reads every number of its configuration, whatever the
// value's registry type: data of kRawNumberBytes or fewer replaces that many leading (low-order,
// little-endian) bytes of `value` and gives true, so that a value shorter than 4 bytes changes
// only its own bytes of the number held before. Longer data gives false and leaves `value`
// untouched.
[[nodiscard]] bool MergeRawNumber(ByteSpan data, std::uint32_t& value);

// Whether a value of registry `type` holding `data` is a text that can be trusted to end: either
// text type, and empty or an even number of bytes whose last unit is the terminator.
[[nodiscard]] bool IsTerminatedText(std::uint32_t type, ByteSpan data);

// The bytes a value takes for `text` and its terminator.
[[nodiscard]] constexpr std::uint32_t TextValueBytes(std::wstring_view text)
{
    return static_cast<std::uint32_t>((text.size() + 1) * kUtf16UnitBytes);
}

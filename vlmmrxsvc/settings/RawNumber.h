// The rule by which the service reads every number of its configuration: raw 32-bit data,
// whatever the value's registry type.
#pragma once

#include <cstdint>
#include <span>

inline constexpr std::size_t kRawNumberBytes = sizeof(std::uint32_t);

// Data of kRawNumberBytes or fewer replaces that many leading (low-order, little-endian) bytes
// of `value` and gives true: a value shorter than 4 bytes changes only its own bytes of the number
// held before. Longer data gives false and leaves `value` untouched.
[[nodiscard]] bool MergeRawNumber(std::span<const std::uint8_t> data, std::uint32_t& value);

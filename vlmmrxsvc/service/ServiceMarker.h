// The value "LocalService" of the service's AppID key, whose presence makes a plain start of the
// executable enter service mode.
#pragma once

#include <cstdint>
#include <span>

inline constexpr std::uint32_t kMarkerTextType = 1;            // REG_SZ
inline constexpr std::uint32_t kMarkerExpandableTextType = 2;  // REG_EXPAND_SZ

// Whether a value of registry `type` holding `data` marks the service: it is text (either text
// type) that is empty or whose last UTF-16 unit is its terminator. The text itself is not used.
[[nodiscard]] bool IsValidServiceMarker(std::uint32_t type, std::span<const std::uint8_t> data);

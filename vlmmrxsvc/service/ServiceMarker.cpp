#include "service/ServiceMarker.h"

namespace {

constexpr std::size_t kUnitBytes = 2;  // UTF-16

}  // namespace

bool IsValidServiceMarker(std::uint32_t type, std::span<const std::uint8_t> data)
{
    if (type != kMarkerTextType && type != kMarkerExpandableTextType) {
        return false;
    }
    if (data.empty()) {
        return true;
    }
    return data.size() % kUnitBytes == 0 && data[data.size() - kUnitBytes] == 0 &&
           data[data.size() - 1] == 0;
}

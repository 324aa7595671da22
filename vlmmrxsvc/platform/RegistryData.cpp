#include "platform/RegistryData.h"

#include <algorithm>
#include <array>

bool MergeRawNumber(ByteSpan data, std::uint32_t& value)
{
    if (data.size() > kRawNumberBytes) {
        return false;
    }
    std::array<std::uint8_t, kRawNumberBytes> merged{};
    StoreField(std::span(merged), 0, value);
    std::copy(data.begin(), data.end(), merged.begin());
    value = *LoadField<std::uint32_t>(merged, 0);
    return true;
}

bool IsTerminatedText(std::uint32_t type, ByteSpan data)
{
    if (type != kRegistryTextType && type != kRegistryExpandableTextType) {
        return false;
    }
    if (data.empty()) {
        return true;
    }
    return data.size() % kUtf16UnitBytes == 0 &&
           LoadField<std::uint16_t>(data, data.size() - kUtf16UnitBytes) == 0;
}

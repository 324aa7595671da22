#include "settings/RawNumber.h"

namespace {

constexpr unsigned kBitsPerByte = 8;
constexpr std::uint32_t kByteMask = 0xFF;

}  // namespace

bool MergeRawNumber(std::span<const std::uint8_t> data, std::uint32_t& value)
{
    if (data.size() > kRawNumberBytes) {
        return false;
    }
    std::uint32_t merged = value;
    for (std::size_t index = 0; index < data.size(); ++index) {
        const unsigned shift = static_cast<unsigned>(index) * kBitsPerByte;
        merged = (merged & ~(kByteMask << shift)) | (std::uint32_t{data[index]} << shift);
    }
    value = merged;
    return true;
}

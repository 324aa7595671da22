#include "vlmmrxreport/AddressRanges.h"

#include <algorithm>
#include <iterator>
#include <limits>

namespace {

// `value` rounded up to a multiple of `alignment`; the largest value when that would overflow,
// which lies past any ceiling.
std::uint64_t AlignUp(std::uint64_t value, std::uint64_t alignment)
{
    const std::uint64_t slack = alignment - 1;
    if (value > std::numeric_limits<std::uint64_t>::max() - slack) {
        return std::numeric_limits<std::uint64_t>::max();
    }
    return (value + slack) & ~slack;
}

}  // namespace

void AddressRanges::Add(std::uint64_t start, std::uint64_t end)
{
    if (start >= end) {
        return;
    }
    auto next = ranges_.upper_bound(start);
    if (next != ranges_.begin() && std::prev(next)->second >= start) {
        --next;
        start = next->first;
        end = std::max(end, next->second);
        next = ranges_.erase(next);
    }
    while (next != ranges_.end() && next->first <= end) {
        end = std::max(end, next->second);
        next = ranges_.erase(next);
    }
    ranges_.emplace(start, end);
}

std::optional<std::uint64_t> AddressRanges::LowestFree(std::uint64_t floor, std::uint64_t size,
                                                       std::uint64_t alignment,
                                                       std::uint64_t ceiling) const
{
    std::uint64_t base = AlignUp(floor, alignment);
    auto next = ranges_.upper_bound(base);
    if (next != ranges_.begin() && std::prev(next)->second > base) {
        base = AlignUp(std::prev(next)->second, alignment);
    }
    // The ranges from here on start after `base` was first chosen; each that the candidate
    // overlaps moves it past that range's end.
    for (;; ++next) {
        if (base > ceiling || ceiling - base < size) {
            return std::nullopt;
        }
        if (next == ranges_.end() || next->first >= base + size) {
            return base;
        }
        base = std::max(base, AlignUp(next->second, alignment));
    }
}

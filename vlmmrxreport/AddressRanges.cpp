#include "vlmmrxreport/AddressRanges.h"

#include <algorithm>
#include <limits>

namespace {

// Pending ranges are merged once there are at least this many, or as many as merged ones.
constexpr std::size_t kMergeBatch = 1 << 16;

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

std::uint64_t EndOf(std::uint64_t start, std::uint64_t bytes)
{
    const std::uint64_t largest = std::numeric_limits<std::uint64_t>::max();
    return start > largest - bytes ? largest : start + bytes;
}

void AddressRanges::Add(std::uint64_t start, std::uint64_t end)
{
    if (start >= end) {
        return;
    }
    pending_.emplace_back(start, end);
    if (pending_.size() >= std::max(kMergeBatch, merged_.size())) {
        Merge();
    }
}

void AddressRanges::Merge()
{
    if (pending_.empty()) {
        return;
    }
    std::sort(pending_.begin(), pending_.end());
    std::vector<std::pair<std::uint64_t, std::uint64_t>> all;
    all.reserve(merged_.size() + pending_.size());
    std::merge(merged_.begin(), merged_.end(), pending_.begin(), pending_.end(),
               std::back_inserter(all));
    merged_.clear();
    for (const auto& range : all) {
        if (!merged_.empty() && range.first <= merged_.back().second) {
            merged_.back().second = std::max(merged_.back().second, range.second);
        } else {
            merged_.push_back(range);
        }
    }
    merged_.shrink_to_fit();
    pending_.clear();
    pending_.shrink_to_fit();
}

std::optional<std::uint64_t> AddressRanges::EndOfOverlap(std::uint64_t start, std::uint64_t end)
{
    Merge();
    // The last range that starts before `end` is the only candidate: the ranges are disjoint.
    const auto next = std::lower_bound(
        merged_.begin(), merged_.end(), end,
        [](const auto& range, std::uint64_t at) { return range.first < at; });
    if (next == merged_.begin() || std::prev(next)->second <= start) {
        return std::nullopt;
    }
    return std::prev(next)->second;
}

std::optional<std::uint64_t> LowestFree(std::initializer_list<AddressRanges*> sets,
                                        std::uint64_t floor, std::uint64_t size,
                                        std::uint64_t alignment, std::uint64_t ceiling)
{
    std::uint64_t base = AlignUp(floor, alignment);
    for (bool moved = true; moved;) {
        if (base > ceiling || ceiling - base < size) {
            return std::nullopt;
        }
        moved = false;
        for (AddressRanges* set : sets) {
            if (const auto end = set->EndOfOverlap(base, base + size)) {
                base = AlignUp(*end, alignment);
                moved = true;
                break;
            }
        }
    }
    return base;
}

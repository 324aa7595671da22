// A set of half-open address ranges, kept disjoint (ranges that overlap or touch are merged), and
// the search for the lowest aligned gap among them that the rebase plan places images in.
#pragma once

#include <cstdint>
#include <map>
#include <optional>

class AddressRanges {
public:
    // Adds [start, end); an empty or inverted range adds nothing.
    void Add(std::uint64_t start, std::uint64_t end);

    // The lowest multiple of `alignment` (a power of two) at or above `floor` such that
    // [base, base + size) overlaps no range and ends at or below `ceiling`; none when no such
    // base exists.
    [[nodiscard]] std::optional<std::uint64_t> LowestFree(std::uint64_t floor, std::uint64_t size,
                                                          std::uint64_t alignment,
                                                          std::uint64_t ceiling) const;

private:
    std::map<std::uint64_t, std::uint64_t> ranges_;  // start to end
};

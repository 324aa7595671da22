// A set of half-open address ranges, and the search for the lowest aligned gap among one or more
// such sets that the rebase plan places images in. Ranges are gathered cheaply (appended) and
// merged in batches, so that a fleet's millions of recorded ranges take memory only for the
// distinct ones.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <utility>
#include <vector>

class AddressRanges {
public:
    // Adds [start, end); an empty or inverted range adds nothing.
    void Add(std::uint64_t start, std::uint64_t end);

    // The first range of the set that overlaps [start, end), by its end; none when none does.
    [[nodiscard]] std::optional<std::uint64_t> EndOfOverlap(std::uint64_t start,
                                                            std::uint64_t end);

private:
    void Merge();

    std::vector<std::pair<std::uint64_t, std::uint64_t>> merged_;  // sorted, disjoint, apart
    std::vector<std::pair<std::uint64_t, std::uint64_t>> pending_;
};

// The lowest multiple of `alignment` (a power of two) at or above `floor` such that
// [base, base + size) overlaps no range of any of `sets` and ends at or below `ceiling`; none
// when no such base exists.
[[nodiscard]] std::optional<std::uint64_t> LowestFree(std::initializer_list<AddressRanges*> sets,
                                                      std::uint64_t floor, std::uint64_t size,
                                                      std::uint64_t alignment,
                                                      std::uint64_t ceiling);

// `start + bytes`, or the largest address when that would overflow.
[[nodiscard]] std::uint64_t EndOf(std::uint64_t start, std::uint64_t bytes);

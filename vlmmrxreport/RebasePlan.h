// The rebase plan: a new preferred base for every relocated component whose file can still be
// read, such that no planned image overlaps another, nor any range a record shows in use.
//
// How it is chosen, deterministically (the same file and the same image files give the same
// plan):
//   1. Every valid component record reserves two ranges of the component's size: where the
//      component was loaded, and the base it wanted (where its occupant sits; the occupant's own
//      extent is not recorded, so it is taken to be at least as large). The size is the
//      SizeOfImage of the component's file, or kAssumedImageBytes when the file cannot be read.
//   2. The components are taken in the order of their first record in the file (paths compared
//      without regard to case). One whose file cannot be read, or whose first record shows it
//      loaded at its preferred base, is left out.
//   3. Each gets the lowest 64 KiB-aligned base at or above kPlanFloor at which its SizeOfImage
//      fits below kPlanCeiling without overlapping any reserved or already planned range; that
//      range is then reserved too. A component for which no such base is left is left out.
#pragma once

#include "vlmmrxreport/Report.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The SizeOfImage of the image file at `path`, 0 when it cannot be read.
using ImageSizeOf = std::function<std::uint32_t(const std::wstring& path)>;

// The allocation granularity of Windows: an image's base must be a multiple of it.
inline constexpr std::uint64_t kPlanAlignment = 0x10000;
// 8 GiB: above the default bases of the 64-bit linkers (0x140000000 for executables and
// 0x180000000 for DLLs), where most relocated components collided in the first place.
inline constexpr std::uint64_t kPlanFloor = 0x0000000200000000;
// The top of the 8 TiB user address space that every 64-bit Windows gives a process, less the
// last 64 KiB, which is never available.
inline constexpr std::uint64_t kPlanCeiling = 0x000007FFFFFF0000;
// The size taken for the ranges of a component whose file cannot be read: 16 MiB, more than all
// but the largest system DLLs, so that an unknown image is rather overestimated.
inline constexpr std::uint64_t kAssumedImageBytes = 0x1000000;

struct PlannedBase {
    std::wstring componentPath;       // as its first record names it
    std::uint64_t preferredBase = 0;  // the base its first record says it wanted
    std::uint32_t sizeOfImage = 0;
    std::uint64_t plannedBase = 0;
};

// The plan for `report`, `sizeOf` asked once per component (with its path as first recorded).
[[nodiscard]] std::vector<PlannedBase> PlanRebase(const Report& report, const ImageSizeOf& sizeOf);

// The rebase plan: a new preferred base for every component whose relocation costs memory and
// that may be rebased, one base per component path across every file read, so that one plan
// serves every machine an image is deployed to.
//
// Which components: collision and moved images that are readable here, no system file (under the
// Windows folder), not signed (rebasing breaks the signature) and not empty. Every other component
// is skipped, with its reason.
//
// Where, so that a plan is safe and stays the same as records come and go:
//   1. Every valid component record reserves two ranges of the component's size: where it was
//      loaded, and the base it wanted (where its occupant sat; the occupant's own extent is not
//      recorded, so it is taken to be at least as large). An unreadable component's size is taken
//      as kAssumedImageBytes.
//   2. Taken in the order of their paths (without regard to case), the planned components whose
//      current ImageBase is already clear of every reserved range and of each other keep it, so
//      that a plan once applied proposes nothing new.
//   3. The others, in the same order, each get the lowest 64 KiB-aligned base clear of all of
//      that, searching from a home of their own: a point in the format's window chosen by the
//      path alone. So adding, removing or reordering records, or one image growing, moves no
//      other image unless their ranges meet. A PE32 image stays below 2 GiB; a PE32+ image in
//      its window of the user address space.
#pragma once

#include "vlmmrxreport/Findings.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The allocation granularity of Windows: an image's base must be a multiple of it.
inline constexpr std::uint64_t kPlanAlignment = 0x10000;
// 8 GiB: above the default bases of the 64-bit linkers (0x140000000 for executables and
// 0x180000000 for DLLs), where most relocated components collided in the first place.
inline constexpr std::uint64_t kPlanFloor64 = 0x0000000200000000;
// The PE32+ window: 1 TiB, room for millions of images far from the processes' heaps.
inline constexpr std::uint64_t kPlanWindow64 = 0x0000010000000000;
// The top of the 8 TiB user address space that every 64-bit Windows gives a process, less the
// last 64 KiB, which is never available.
inline constexpr std::uint64_t kPlanCeiling64 = 0x000007FFFFFF0000;
// PE32 images: their ImageBase is 32 bits and a 32-bit process has 2 GiB; the window lies above
// the default bases of the 32-bit linkers (0x400000 and 0x10000000) and below the top quarter
// of that space, where the system places its own libraries in a 32-bit process.
inline constexpr std::uint64_t kPlanFloor32 = 0x60000000;
inline constexpr std::uint64_t kPlanCeiling32 = 0x70000000;

enum class PlanAction { kRebase, kKeep, kSkip };

// "rebase", "keep" or "skip".
[[nodiscard]] std::string_view NameOf(PlanAction action);

struct PlanEntry {
    const ComponentFindings* component = nullptr;
    PlanAction action = PlanAction::kSkip;
    std::uint64_t base = 0;  // kRebase: the new base; kKeep: the current one
    std::string reason;      // kSkip: why
};

// The plan for every component that a shown record names, in path order (without regard to case).
// `floor`, when given, is where both windows start (--base).
[[nodiscard]] std::vector<PlanEntry> PlanRebase(Findings& findings,
                                                std::optional<std::uint64_t> floor);

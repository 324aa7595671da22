// What the worker asks the system at every cycle: the committed-memory load that the resource
// gate measures, the snapshot of all processes, and which of them are worth visiting.
#pragma once

#include "worker/ProcessSnapshot.h"

#include <functional>
#include <string_view>

// The optimisation level of a process by the path of its image; 0 leaves the process alone.
using LevelLookup = std::function<std::uint32_t(std::wstring_view imagePath)>;

// The committed-memory load in percent (CommittedLoadPercent of GlobalMemoryStatusEx's page-file
// figures, the entry point looked up once in "kernel32.dll"). 0.0 when the entry point cannot be
// found; not a number when the total is 0 (the call's result is not looked at, so a failed call
// gives that too).
[[nodiscard]] double GetVirtualMemoryLoad();

// NtQuerySystemInformation (class 5) of the loaded "Ntdll", as a snapshot query; empty when the
// entry point is missing.
[[nodiscard]] SnapshotQuery SystemProcessQuery();

// The identifiers of the processes of `snapshot`, in snapshot order, that can be opened and whose
// image path cannot be read or has a level other than 0. Each process is opened and closed once.
[[nodiscard]] std::vector<std::uint32_t> SelectProcesses(std::span<const std::uint8_t> snapshot,
                                                         const LevelLookup& levelOf);

// Takes a snapshot with `query` and replaces `kept` with the processes SelectProcesses keeps from
// it; the snapshot's buffer is released afterwards. `kept` is empty unless the result is Taken.
[[nodiscard]] SnapshotResult TakeProcessSnapshot(ProcessSnapshot& snapshot,
                                                 const SnapshotQuery& query,
                                                 const LevelLookup& levelOf,
                                                 std::vector<std::uint32_t>& kept);

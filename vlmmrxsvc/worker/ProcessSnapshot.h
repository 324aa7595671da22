// The snapshot of all processes that each cycle of the worker starts from, and the selection of
// the processes worth visiting.
#pragma once

#include "platform/EntryPoints.h"

#include <functional>
#include <span>
#include <vector>

inline constexpr ULONG kInitialSnapshotBytes = 18400;
inline constexpr ULONG kSnapshotGrowthBytes = 8192;
// No machine's process list comes near this; a query that still reports a buffer too small here
// is not answering sensibly, and the cycle goes on without a snapshot.
inline constexpr ULONG kMaxSnapshotBytes = 64 * 1024 * 1024;

// The optimisation level of a process by the path of its image; 0 leaves the process alone.
using LevelLookup = std::function<DWORD(const wchar_t* imagePath)>;

// Records in `snapshot` (SYSTEM_PROCESS_INFORMATION chained by NextEntryOffset, the last with 0),
// counting only those that lie wholly inside it; 0 for an empty span.
[[nodiscard]] std::size_t CountSnapshotRecords(std::span<const BYTE> snapshot);

// Writes into `identifiers` (room for CountSnapshotRecords entries), in snapshot order, the
// identifiers of the processes that can be opened and whose image path cannot be read or has a
// level other than 0, and returns how many. Each process is opened and closed once; slots past
// the count are not written. An empty snapshot yields 0.
[[nodiscard]] int SelectProcesses(std::span<const BYTE> snapshot, std::span<DWORD> identifiers,
                                  const LevelLookup& levelOf);

enum class SnapshotResult {
    Taken,        // the kept identifiers are in the caller's vector
    Unavailable,  // no entry point, or the query failed otherwise than for a small buffer
    NoMemory,     // an allocation failed: the worker's run ends
};

// NtQuerySystemInformation in the loaded "Ntdll"; null when it is missing.
[[nodiscard]] NtQuerySystemInformationProc FindNtQuerySystemInformation();

// Takes snapshots with the native query. The buffer size starts at kInitialSnapshotBytes, grows
// by kSnapshotGrowthBytes after each query that reports a buffer too small, and is kept from one
// snapshot to the next; it never shrinks.
class ProcessSnapshot {
public:
    explicit ProcessSnapshot(NtQuerySystemInformationProc query) : query_(query)
    {
    }

    // Replaces `kept` with the identifiers SelectProcesses keeps from a new snapshot; `kept` is
    // empty unless the result is Taken.
    [[nodiscard]] SnapshotResult Take(const LevelLookup& levelOf, std::vector<DWORD>& kept);
    [[nodiscard]] ULONG BufferBytes() const { return bufferBytes_; }

private:
    NtQuerySystemInformationProc query_;
    ULONG bufferBytes_ = kInitialSnapshotBytes;
};

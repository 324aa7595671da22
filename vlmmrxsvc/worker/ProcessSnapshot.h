// The snapshot of all processes that each cycle of the worker starts from: the buffer that the
// native query fills, how it grows, and the records in it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

inline constexpr std::uint32_t kInitialSnapshotBytes = 18400;
inline constexpr std::uint32_t kSnapshotGrowthBytes = 8192;
// No machine's process list comes near this; a query that still reports a buffer too small here
// is not answering sensibly, and the cycle goes on without a snapshot.
inline constexpr std::uint32_t kMaxSnapshotBytes = 64 * 1024 * 1024;

// Where a 64-bit SYSTEM_PROCESS_INFORMATION record keeps the two fields the service reads: the
// byte offset to the next record (32-bit, 0 in the last) and the process identifier (a handle-
// sized number whose low 32 bits are the identifier).
inline constexpr std::size_t kSnapshotNextEntryOffset = 0x00;
inline constexpr std::size_t kSnapshotProcessIdOffset = 0x50;

// NTSTATUS values of the query that the snapshot tells apart.
inline constexpr std::int32_t kSnapshotStatusSuccess = 0;
inline constexpr std::int32_t kSnapshotStatusTooSmall = static_cast<std::int32_t>(0xC0000004);

// The process identifiers of the records in `snapshot` (chained by their next-entry offsets), in
// order, counting only records whose identifier lies wholly inside it; empty for an empty span.
[[nodiscard]] std::vector<std::uint32_t> SnapshotProcessIds(std::span<const std::uint8_t> snapshot);

// The native query of all processes (information class 5) into `buffer`; its NTSTATUS.
using SnapshotQuery = std::function<std::int32_t(std::span<std::uint8_t> buffer)>;

enum class SnapshotResult {
    Taken,        // Records() holds the snapshot
    Unavailable,  // the query failed otherwise than for a small buffer, or hit kMaxSnapshotBytes
    NoMemory,     // the buffer could not be allocated: the worker's run ends
};

// Takes snapshots with a query. The buffer size starts at `initialBytes`, grows by
// kSnapshotGrowthBytes after each query that reports a buffer too small, and is kept from one
// snapshot to the next; it never shrinks.
class ProcessSnapshot {
public:
    explicit ProcessSnapshot(std::uint32_t initialBytes = kInitialSnapshotBytes)
        : bufferBytes_(initialBytes)
    {
    }

    // Queries until the query succeeds, growing the buffer while it reports a buffer too small.
    [[nodiscard]] SnapshotResult Take(const SnapshotQuery& query);
    // The records of the last snapshot taken; empty after a failed Take or a Release.
    [[nodiscard]] std::span<const std::uint8_t> Records() const;
    // Frees the buffer; the size it had is kept for the next Take.
    void Release() { buffer_.reset(); }

private:
    std::unique_ptr<std::uint8_t[]> buffer_;
    std::uint32_t bufferBytes_;
};

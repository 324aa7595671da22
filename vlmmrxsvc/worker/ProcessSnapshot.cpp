#include "worker/ProcessSnapshot.h"

#include "platform/ByteFields.h"

#include <new>

std::vector<std::uint32_t> SnapshotProcessIds(std::span<const std::uint8_t> snapshot)
{
    std::vector<std::uint32_t> ids;
    for (std::size_t offset = 0; offset < snapshot.size();) {
        const auto record = snapshot.subspan(offset);
        const auto id = LoadField<std::uint64_t>(record, kSnapshotProcessIdOffset);
        if (!id) {
            break;
        }
        ids.push_back(static_cast<std::uint32_t>(*id));  // the low 32 bits of the handle-sized id
        const auto next = *LoadField<std::uint32_t>(record, kSnapshotNextEntryOffset);
        if (next == 0) {
            break;
        }
        offset += next;
    }
    return ids;
}

SnapshotResult ProcessSnapshot::Take(const SnapshotQuery& query)
{
    for (;;) {
        buffer_.reset(new (std::nothrow) std::uint8_t[bufferBytes_]);
        if (buffer_ == nullptr) {
            return SnapshotResult::NoMemory;
        }
        const std::int32_t status = query(std::span<std::uint8_t>(buffer_.get(), bufferBytes_));
        if (status == kSnapshotStatusSuccess) {
            return SnapshotResult::Taken;
        }
        buffer_.reset();
        // Growing helps only a buffer that was too small; any other failure would repeat.
        if (status != kSnapshotStatusTooSmall ||
            bufferBytes_ > kMaxSnapshotBytes - kSnapshotGrowthBytes) {
            return SnapshotResult::Unavailable;
        }
        bufferBytes_ += kSnapshotGrowthBytes;
    }
}

std::span<const std::uint8_t> ProcessSnapshot::Records() const
{
    if (buffer_ == nullptr) {
        return {};
    }
    return {buffer_.get(), bufferBytes_};
}

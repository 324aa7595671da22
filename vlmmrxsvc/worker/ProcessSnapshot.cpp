#include "worker/ProcessSnapshot.h"

#include <cstring>
#include <new>

namespace {

constexpr std::size_t kIdentifierEnd = kSnapshotProcessIdOffset + sizeof(std::uint64_t);

template <typename T>
T FieldAt(std::span<const std::uint8_t> bytes, std::size_t offset)
{
    T value{};
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

}  // namespace

std::vector<std::uint32_t> SnapshotProcessIds(std::span<const std::uint8_t> snapshot)
{
    std::vector<std::uint32_t> ids;
    std::size_t offset = 0;
    while (snapshot.size() >= kIdentifierEnd && offset <= snapshot.size() - kIdentifierEnd) {
        const auto record = snapshot.subspan(offset);
        // The low 32 bits of the handle-sized identifier.
        ids.push_back(static_cast<std::uint32_t>(
            FieldAt<std::uint64_t>(record, kSnapshotProcessIdOffset)));
        const auto next = FieldAt<std::uint32_t>(record, kSnapshotNextEntryOffset);
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

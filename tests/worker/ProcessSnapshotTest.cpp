#include "worker/ProcessSnapshot.h"

#include "image/ImageFileCases.h"

#include <gtest/gtest.h>

TEST(ProcessSnapshot, GrowsOnlyWhileTheBufferIsTooSmallUpToTheLimitAndKeepsTheSize)
{
    // A query that answers `failure` until it is given `needed` bytes; `sizes` gets the sizes.
    std::vector<std::size_t> sizes;
    const auto query = [&sizes](std::size_t needed, std::int32_t failure) -> SnapshotQuery {
        return [&sizes, needed, failure](std::span<std::uint8_t> buffer) {
            sizes.push_back(buffer.size());
            return buffer.size() >= needed ? kSnapshotStatusSuccess : failure;
        };
    };
    ProcessSnapshot snapshot;
    EXPECT_EQ(snapshot.Take(query(30000, kSnapshotStatusTooSmall)), SnapshotResult::Taken);
    EXPECT_EQ(snapshot.Records().size(), 34784u);
    const auto denied = static_cast<std::int32_t>(0xC0000022);
    EXPECT_EQ(snapshot.Take(query(SIZE_MAX, denied)), SnapshotResult::Unavailable);
    EXPECT_TRUE(snapshot.Records().empty());
    ProcessSnapshot large(kMaxSnapshotBytes - 1);  // no room left for another step
    EXPECT_EQ(large.Take(query(SIZE_MAX, kSnapshotStatusTooSmall)), SnapshotResult::Unavailable);
    EXPECT_EQ(sizes, (std::vector<std::size_t>{18400, 26592, 34784, 34784, kMaxSnapshotBytes - 1}));
}

TEST(ProcessSnapshot, GivesTheIdsOfTheRecordsInsideTheBufferInOrder)
{
    // Three records 0x100 bytes apart, the last with a next offset of 0, the buffer ending with
    // the last identifier; identifiers of 64 bits.
    image_test::Image bytes;
    const std::uint64_t ids[] = {0x500000004, 8, 12};
    for (std::size_t index = 0; index < 3; ++index) {
        bytes = image_test::Poked(bytes, index * 0x100, std::uint32_t(index < 2 ? 0x100 : 0));
        bytes = image_test::Poked(bytes, index * 0x100 + kSnapshotProcessIdOffset, ids[index]);
    }
    const std::span<const std::uint8_t> all(bytes);
    EXPECT_EQ(SnapshotProcessIds(all), (std::vector<std::uint32_t>{4, 8, 12}));
    EXPECT_EQ(SnapshotProcessIds(all.first(all.size() - 1)), (std::vector<std::uint32_t>{4, 8}));
    EXPECT_TRUE(SnapshotProcessIds({}).empty());
    bytes[1] = 0;  // the first next offset, 0x100, becomes 0: it ends the list
    EXPECT_EQ(SnapshotProcessIds(all), (std::vector<std::uint32_t>{4}));
}

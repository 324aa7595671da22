#include "worker/ProcessSnapshot.h"

#include "platform/fake/FakePlatform.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using os::fake::FakePlatform;

constexpr DWORD kSelectionAccess = 0x00100650;
constexpr NTSTATUS kAccessDenied = static_cast<NTSTATUS>(0xC0000022);

class ProcessSnapshotTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(fake.OpenResourceCount(), 0u); }

    // Level 0 for images named skip.exe, 1 for every other; remembers what it was asked.
    LevelLookup Levels()
    {
        return [this](const wchar_t* path) {
            asked.emplace_back(path);
            return std::wstring(path).ends_with(L"skip.exe") ? 0u : 1u;
        };
    }

    FakePlatform fake;
    ProcessSnapshot snapshot{FindNtQuerySystemInformation()};
    std::vector<std::wstring> asked;
    std::vector<DWORD> kept;
};

TEST_F(ProcessSnapshotTest, GrowsTheBufferUntilTheQuerySucceedsAndKeepsItsSize)
{
    fake.processes.AddProcess(4, L"C:\\a.exe");
    fake.processes.SetSnapshotMinimumBytes(30000);

    ASSERT_EQ(snapshot.Take(Levels(), kept), SnapshotResult::Taken);
    EXPECT_EQ(kept, (std::vector<DWORD>{4}));
    ASSERT_EQ(snapshot.Take(Levels(), kept), SnapshotResult::Taken);

    EXPECT_EQ(fake.processes.SnapshotQuerySizes(),
              (std::vector<ULONG>{18400, 26592, 34784, 34784}));
    EXPECT_EQ(snapshot.BufferBytes(), 34784u);
}

TEST_F(ProcessSnapshotTest, KeepsOpenableProcessesWithANonZeroLevelOrNoPathInSnapshotOrder)
{
    fake.processes.AddProcess(8, L"C:\\apps\\first.exe");
    fake.processes.AddProcess(12, L"C:\\apps\\refused.exe");
    fake.processes.RefuseOpen(12);
    fake.processes.AddProcess(16, L"C:\\apps\\skip.exe");
    fake.processes.AddProcess(20, L"C:\\apps\\ended.exe");
    fake.processes.Exit(20);
    fake.processes.AddProcess(24, L"");  // its path cannot be read
    fake.processes.AddProcess(28, L"C:\\apps\\last.exe");

    ASSERT_EQ(snapshot.Take(Levels(), kept), SnapshotResult::Taken);

    EXPECT_EQ(kept, (std::vector<DWORD>{8, 24, 28}));
    EXPECT_EQ(asked, (std::vector<std::wstring>{L"C:\\apps\\first.exe", L"C:\\apps\\skip.exe",
                                                L"C:\\apps\\last.exe"}));
    // Each process is opened once, with the selection's limited access.
    EXPECT_EQ(fake.processes.OpenAccesses(16), (std::vector<DWORD>{kSelectionAccess}));
    EXPECT_TRUE(fake.processes.OpenAccesses(12).empty());
}

TEST_F(ProcessSnapshotTest, KeepsNothingWhenEveryProcessHasLevelZero)
{
    fake.processes.AddProcess(8, L"C:\\skip.exe");
    ASSERT_EQ(snapshot.Take(Levels(), kept), SnapshotResult::Taken);
    EXPECT_TRUE(kept.empty());
}

TEST_F(ProcessSnapshotTest, GivesUpWithoutGrowingWhenTheQueryFailsOtherwise)
{
    fake.processes.AddProcess(8, L"C:\\a.exe");
    fake.processes.FailSnapshot(kAccessDenied);
    EXPECT_EQ(snapshot.Take(Levels(), kept), SnapshotResult::Unavailable);
    EXPECT_EQ(fake.processes.SnapshotQuerySizes(), (std::vector<ULONG>{18400}));

    fake.processes.FailSnapshot(0);
    EXPECT_EQ(snapshot.Take(Levels(), kept), SnapshotResult::Taken);
    EXPECT_EQ(kept, (std::vector<DWORD>{8}));
}

TEST_F(ProcessSnapshotTest, GivesUpAtTheSizeLimit)
{
    fake.processes.SetSnapshotMinimumBytes(kMaxSnapshotBytes + 1);
    EXPECT_EQ(snapshot.Take(Levels(), kept), SnapshotResult::Unavailable);
    EXPECT_LE(snapshot.BufferBytes(), kMaxSnapshotBytes);
}

TEST_F(ProcessSnapshotTest, IsUnavailableWithoutTheEntryPoint)
{
    fake.kernel.RemoveExport(L"Ntdll", "NtQuerySystemInformation");
    ProcessSnapshot missing(FindNtQuerySystemInformation());
    EXPECT_EQ(missing.Take(Levels(), kept), SnapshotResult::Unavailable);
}

TEST(SnapshotRecords, CountsOnlyRecordsThatLieInsideTheBuffer)
{
    std::vector<BYTE> buffer(3 * sizeof(SYSTEM_PROCESS_INFORMATION), 0);
    const auto chain = [&](std::size_t record, ULONG next) {
        std::memcpy(buffer.data() + record * sizeof(SYSTEM_PROCESS_INFORMATION), &next,
                    sizeof next);
    };
    constexpr auto kRecord = static_cast<ULONG>(sizeof(SYSTEM_PROCESS_INFORMATION));
    chain(0, kRecord);
    chain(1, 0);
    EXPECT_EQ(CountSnapshotRecords(buffer), 2u);
    chain(1, kRecord * 5);  // points past the end
    EXPECT_EQ(CountSnapshotRecords(buffer), 2u);
    EXPECT_EQ(CountSnapshotRecords(std::span<const BYTE>(buffer.data(), 8)), 0u);
    EXPECT_EQ(CountSnapshotRecords({}), 0u);

    DWORD slot = 0;
    EXPECT_EQ(SelectProcesses({}, std::span<DWORD>(&slot, 1), [](const wchar_t*) { return 1u; }),
              0);
}

}  // namespace

// The process record and the module record's path and occupant.
#include "process/ProcessOpt.h"

#include "ProcessFixture.h"

#include <vector>

namespace {

using namespace process_test;

constexpr DWORD kAllAccess = 0x001F0FFF;
constexpr ULONGLONG kPreferred = 0x180000000;

class ProcessOptTest : public ProcessFixture {};

TEST_F(ProcessOptTest, OpensTheProcessOnceAndReadsItsName)
{
    fake.files.AddFile(kImage, {});
    fake.processes.SetCommittedBytes(kProcessId, 0x123000);
    CProcessOpt process;
    ASSERT_TRUE(process.Open(kProcessId));
    EXPECT_EQ(process.name, kImage);
    EXPECT_TRUE(process.Open(kProcessId));  // repeats the name lookup only
    EXPECT_EQ(fake.processes.OpenAccesses(kProcessId), (std::vector<DWORD>{kAllAccess}));

    std::wstring copy;
    EXPECT_TRUE(process.GetName(copy));
    EXPECT_EQ(copy, kImage);
    EXPECT_EQ(process.GetPagefileUsage(), 0x123000u);
    EXPECT_EQ(fake.security.ImpersonationCount(), 0);  // the path was reachable
}

TEST_F(ProcessOptTest, HasNoHandleNameOrUsageForAProcessThatIsGone)
{
    fake.processes.Exit(kProcessId);
    CProcessOpt process;
    EXPECT_FALSE(process.Open(kProcessId));
    std::wstring untouched = L"before";
    EXPECT_FALSE(process.GetName(untouched));
    EXPECT_EQ(untouched, L"before");
    EXPECT_EQ(process.GetPagefileUsage(), 0u);
}

TEST_F(ProcessOptTest, NamesAnExecutableOnTheOwnersDriveByTheShare)
{
    fake.processes.AddProcess(0x48, L"Z:\\tools\\tool.exe", kUser);
    CProcessOpt process;
    ASSERT_TRUE(process.Open(0x48));
    EXPECT_EQ(process.name, L"\\\\files\\alice\\tools\\tool.exe");
}

TEST_F(ProcessOptTest, KeepsTheNameEmptyWhenItCannotBeRead)
{
    fake.processes.AddProcess(0x48, L"");
    CProcessOpt process;
    ASSERT_TRUE(process.Open(0x48));
    EXPECT_TRUE(process.name.empty());
    std::wstring untouched = L"before";
    EXPECT_FALSE(process.GetName(untouched));
    EXPECT_EQ(untouched, L"before");
}

class ModulePathTest : public ProcessFixture {
protected:
    CModuleOpt record;
    void SetUp() override { record.processId = kProcessId; }
};

TEST_F(ModulePathTest, KeepsAReachablePathWithoutImpersonating)
{
    fake.files.AddFile(L"Z:\\lib\\tool.dll", {});  // the service itself reaches this Z:
    EXPECT_TRUE(record.SetPath(L"Z:\\lib\\tool.dll"));
    EXPECT_EQ(record.GetPath(), L"Z:\\lib\\tool.dll");
    EXPECT_EQ(fake.security.ImpersonationCount(), 0);
}

TEST_F(ModulePathTest, ConvertsAPathOnlyTheOwnerReaches)
{
    EXPECT_TRUE(record.SetPath(L"Z:\\lib\\tool.dll"));
    EXPECT_EQ(record.GetPath(), L"\\\\files\\alice\\lib\\tool.dll");
}

TEST_F(ModulePathTest, KeepsAnUnreachableDevicePathAfterImpersonating)
{
    EXPECT_TRUE(record.SetPath(L"\\Device\\Mup\\files\\alice\\tool.dll"));
    EXPECT_EQ(record.GetPath(), L"\\Device\\Mup\\files\\alice\\tool.dll");
    EXPECT_EQ(fake.security.ImpersonationCount(), 1);
}

TEST_F(ModulePathTest, StoresThePathAsGivenWhenTheOwnerCannotBeImpersonated)
{
    fake.security.FailProcessTokenOpen(ERROR_ACCESS_DENIED);
    EXPECT_FALSE(record.SetPath(L"Z:\\lib\\tool.dll"));
    EXPECT_EQ(record.GetPath(), L"Z:\\lib\\tool.dll");
    EXPECT_FALSE(record.SetPath(nullptr));
    EXPECT_EQ(record.GetPath(), L"");
}

class OccupantTest : public ProcessFixture {
protected:
    void SetUp() override
    {
        record.processId = kProcessId;
        record.preferredBase = kPreferred;
        process.reset(fake.processes.OpenProcess(kAllAccess, FALSE, kProcessId));
    }

    void TearDown() override
    {
        process.reset();
        ProcessFixture::TearDown();
    }

    CModuleOpt record;
    os::UniqueHandle process;
};

TEST_F(OccupantTest, NamesTheModuleAtThePreferredBaseAndCachesIt)
{
    fake.files.AddFile(L"C:\\lib\\first.dll", {});
    fake.processes.AddModule(kProcessId, {kPreferred - 0x1000, kModuleSize, L"C:\\lib\\first.dll"});
    EXPECT_EQ(record.GetOccupantName(process.get()), L"C:\\lib\\first.dll");
    fake.processes.Exit(kProcessId);
    EXPECT_EQ(record.GetOccupantName(process.get()), L"C:\\lib\\first.dll");
}

TEST_F(OccupantTest, GivesAMappedFileItsDeviceNameUnconverted)
{
    fake.processes.MapFile(kProcessId, {kPreferred, 0x10000, L"\\Device\\HarddiskVolume2\\d.dat"});
    EXPECT_EQ(record.GetOccupantName(process.get()), L"\\Device\\HarddiskVolume2\\d.dat");
    EXPECT_EQ(fake.security.ImpersonationCount(), 0);
}

TEST_F(OccupantTest, NamesTheMainExecutableForAFreeRegion)
{
    EXPECT_EQ(record.GetOccupantName(process.get()), kImage);
}

TEST_F(OccupantTest, ConvertsAModuleOnTheOwnersDrive)
{
    fake.processes.AddModule(kProcessId, {kPreferred, kModuleSize, L"Z:\\lib\\first.dll"});
    EXPECT_EQ(record.GetOccupantName(process.get()), L"\\\\files\\alice\\lib\\first.dll");
}

TEST_F(OccupantTest, IsUnknownWhenTheMemoryQueryFailsAndStaysSo)
{
    fake.processes.FailMemoryQuery(kProcessId);
    EXPECT_EQ(record.GetOccupantName(process.get()), L"?");
    EXPECT_EQ(record.GetOccupantName(process.get()), L"?");
}

TEST_F(OccupantTest, IsUnknownOnceWhenTheOwnerCannotBeImpersonatedThenTheUnconvertedName)
{
    fake.processes.AddModule(kProcessId, {kPreferred, kModuleSize, L"Z:\\lib\\first.dll"});
    fake.security.FailImpersonateLoggedOnUser(ERROR_ACCESS_DENIED);
    EXPECT_EQ(record.GetOccupantName(process.get()), L"?");
    EXPECT_EQ(record.GetOccupantName(process.get()), L"Z:\\lib\\first.dll");
}

}  // namespace

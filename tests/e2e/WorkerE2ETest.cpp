// The service doing its job under Wine's service control manager: the test victims load two
// libraries of one preferred base, and the service records the relocated one in the
// repair-pending file, once, across cycles, restarts and the handshake with the file's reader.
#include "e2e/E2eSupport.h"

#include "RepairFileContents.h"
#include "SettingsKey.h"
#include "TempFiles.h"
#include "process/victim/VictimProcess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <tuple>

namespace {

using namespace e2e;
using namespace testing_support;
using namespace std::chrono_literals;

constexpr ULONGLONG kLibraryBase = 0x180000000;
constexpr std::size_t kTornBytes = 700;
// The threads get a second after the stop signal; the rest is the service manager's.
constexpr auto kPromptStop = 3s;

class WorkerEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(RunByHand(L" -Service"), 0u);
        service_ = OpenOurService(SERVICE_ALL_ACCESS);
        SetNumber(kSettingsKey, L"MainLoopWait", 200);
        SetNumber(kProcessListKey, L"vlm_victim.exe", 1);
        SetNumber(kProcessListKey, L"vlm_victim_two.exe", 2);
        SetNumber(kProcessListKey, L"vlm_victim_zero.exe", 0);
    }

    void TearDown() override
    {
        Stop(service_.get());
        service_.reset();
    }

    void Start() { ASSERT_TRUE(::StartServiceW(service_.get(), 0, nullptr)); }

    bool WaitForRecords(std::size_t count)
    {
        return WaitUntil([&] { return FileSize(repairFile) >= count * kRepairRecordBytes; }, 20s);
    }

    RemoveEverythingAtTheEnd cleanup_;
    RemoveSettingsAtTheEnd settings_;
    os::UniqueServiceHandle service_;
    TempFiles temp;
    const std::wstring configured = temp.Path(L"pending.dat");
    const std::wstring repairFile = temp.Path(L"pending64.dat");
};

TEST_F(WorkerEndToEnd, RecordsEachRelocatedComponentOnceAfterATornTailAndOwnsTheFile)
{
    {
        const std::string torn(kTornBytes, 'x');  // a record cut short by a power cut
        const os::UniqueFile file(::CreateFileW(repairFile.c_str(), GENERIC_WRITE, 0, nullptr,
                                                CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        ASSERT_TRUE(::WriteFile(file.get(), torn.data(), kTornBytes, &written, nullptr));
    }
    SetText(L"RepairPendingFile", configured);
    const VictimProcess one;
    const VictimProcess zero(L"map \"" + one.path + L"\"", L"vlm_victim_zero.exe");
    Start();
    ASSERT_TRUE(WaitForRecords(2));
    // A level-2 process whose only relocated component is known gets a record of its own, once.
    const VictimProcess two(L"", L"vlm_victim_two.exe");
    ASSERT_TRUE(WaitForRecords(3));
    std::this_thread::sleep_for(1s);  // later cycles add nothing

    // Others may read the file while the service holds it, but not write it.
    const os::UniqueFile writer(::CreateFileW(repairFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                              nullptr, OPEN_EXISTING, 0, nullptr));
    const DWORD refusal = ::GetLastError();
    EXPECT_FALSE(writer.valid());
    EXPECT_EQ(refusal, DWORD{ERROR_SHARING_VIOLATION});
    bool whole = true;
    const std::vector<RepairRecord> records = ReadRecords(repairFile, whole);
    ASSERT_EQ(FileSize(repairFile), 3 * kRepairRecordBytes);
    ASSERT_EQ(records.size(), 3u);
    // The torn record keeps its bytes and is filled up so that no reader takes it for whole.
    EXPECT_FALSE(whole);
    EXPECT_EQ(records[0].loadBase, 0x7878787878787878u);
    const RepairRecord& component = records[1];
    EXPECT_EQ(component.componentPath + L"|" + component.processPath + L"|" +
                  component.occupantPath,
              Beside(L"vlm_victim_second.dll") + L"|" + one.path + L"|" +
                  Beside(L"vlm_victim_first.dll"));
    EXPECT_EQ(std::tie(component.loadBase, component.preferredBase),
              std::tie(one.second, kLibraryBase));
    EXPECT_GT(component.pagefileUsage, 0u);
    EXPECT_TRUE(records[2].IsProcessRecord());
    EXPECT_EQ(records[2].componentPath, two.path);
    // A new run loads the file: the component is not recorded again.
    EXPECT_EQ(Stop(service_.get(), kPromptStop).dwCurrentState, DWORD{SERVICE_STOPPED});
    Start();
    std::this_thread::sleep_for(4s);
    const std::vector<RepairRecord> after = ReadRecords(repairFile, whole);
    EXPECT_EQ(std::count_if(after.begin(), after.end(),
                            [](const RepairRecord& record) { return !record.IsProcessRecord(); }),
              2);  // the torn record and the component
}

TEST_F(WorkerEndToEnd, WaitsForTheReadersEventBeforeItLoadsTheFile)
{
    const VictimProcess one;
    // The reader's event, unsignalled: nothing is loaded or written until it is signalled.
    const os::UniqueHandle readerEvent(
        ::CreateEventW(nullptr, TRUE, FALSE, L"Global\\MRXRepairFileEvent"));
    SetText(L"RepairPendingFile", configured);
    Start();
    std::this_thread::sleep_for(3s);
    EXPECT_EQ(::GetFileAttributesW(repairFile.c_str()), INVALID_FILE_ATTRIBUTES);
    ::SetEvent(readerEvent.get());
    EXPECT_TRUE(WaitForRecords(1));
}

TEST_F(WorkerEndToEnd, AStopDuringTheScanOfAProcessWithManyModulesEndsTheServicePromptly)
{
    SetText(L"RepairPendingFile", configured);
    const VictimProcess many(L"many");
    Start();
    ASSERT_EQ(WaitForState(service_.get(), SERVICE_RUNNING).dwCurrentState, DWORD{SERVICE_RUNNING});
    std::this_thread::sleep_for(2500ms);  // the settings load, then well into the scan
    const SERVICE_STATUS status = Stop(service_.get(), kPromptStop);
    EXPECT_EQ(status.dwCurrentState, DWORD{SERVICE_STOPPED});
    EXPECT_EQ(status.dwWin32ExitCode, 0u);
    EXPECT_EQ(FileSize(repairFile) % kRepairRecordBytes, 0u);
}

}  // namespace

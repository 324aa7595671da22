// The worker in the test program under Wine, against a real victim: a machine fault in the middle
// of a run (injected with a double of the process snapshot's query) is survived by a replacement
// that opens the repair-pending file again, records what is new and nothing twice.
#include "image/RepairRecord.h"
#include "service/ServiceModule.h"
#include "service/StopEvent.h"
#include "worker/Worker.h"

#include "EventLogDouble.h"
#include "RepairFileContents.h"
#include "SettingsKey.h"
#include "TempFiles.h"
#include "WaitUntil.h"
#include "process/victim/VictimProcess.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

using namespace testing_support;
using namespace std::chrono_literals;

constexpr auto kRecordWait = 20s;

// The snapshot query as the worker finds it: the real one, but the first query after the repair
// file holds a record faults, as a run that meets corrupt memory would.
using QueryProc = decltype(&::NtQuerySystemInformation);
QueryProc g_realQuery = nullptr;
std::wstring g_repairFile;
std::atomic<bool> g_faulted{false};

NTSTATUS WINAPI FaultingQuery(SYSTEM_INFORMATION_CLASS type, void* buffer, ULONG bytes,
                              ULONG* returned)
{
    if (FileSize(g_repairFile) >= kRepairRecordBytes && !g_faulted.exchange(true)) {
        volatile int* volatile nowhere = nullptr;
        *nowhere = 1;
    }
    return g_realQuery(type, buffer, bytes, returned);
}

TEST(WineWorker, AReplacementAfterAFaultReopensTheFileAndRecordsNothingTwice)
{
    TempFiles temp;
    const std::wstring configured = temp.Path(L"worker.dat");
    g_repairFile = temp.Path(L"worker64.dat");
    SetNumber(kSettingsKey, L"MainLoopWait", 100);
    SetNumber(kProcessListKey, L"vlm_victim.exe", 1);
    SetText(L"RepairPendingFile", configured);
    g_realQuery = reinterpret_cast<QueryProc>(reinterpret_cast<void (*)()>(
        ::GetProcAddress(::GetModuleHandleW(L"ntdll"), "NtQuerySystemInformation")));
    const EntryPointPatch faulting("NtQuerySystemInformation",
                                   reinterpret_cast<const void*>(&FaultingQuery));
    const EventLogDouble log;
    CServiceModule module;
    module.InitModule(nullptr);
    ASSERT_TRUE(module.LoadSettings());
    const os::UniqueHandle stop = CreateNamedEvent(kStopEventName);
    const VictimProcess victim;
    ASSERT_TRUE(victim.reported);
    ASSERT_TRUE(module.StartWorker());

    ASSERT_TRUE(WaitUntil([] { return g_faulted.load(); }, kRecordWait));
    // Only a replacement that could open the file again records the mapping victim's first library.
    const VictimProcess mapping(L"map \"" + victim.path + L"\"");
    const bool recorded =
        WaitUntil([] { return FileSize(g_repairFile) >= 2 * kRepairRecordBytes; }, kRecordWait);
    std::this_thread::sleep_for(500ms);  // a few more cycles, which must add nothing
    ::SetEvent(stop.get());
    EXPECT_EQ(::WaitForSingleObject(module.BeginStop(), 5000), WAIT_OBJECT_0);
    RemoveSettings();

    ASSERT_TRUE(recorded);
    bool whole = false;
    const std::vector<RepairRecord> records = ReadRecords(g_repairFile, whole);
    EXPECT_TRUE(whole);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].componentPath, Beside(L"vlm_victim_second.dll"));
    EXPECT_EQ(records[0].loadBase, victim.second);
    EXPECT_EQ(records[1].componentPath, Beside(L"vlm_victim_first.dll"));
    EXPECT_EQ(records[1].processPath, victim.path);
    ASSERT_EQ(g_loggedEvents.size(), 1u);
    const auto& [type, id, strings] = g_loggedEvents[0];
    EXPECT_EQ(id, kWorkerFailedEvent);
    ASSERT_EQ(strings.size(), 2u);
    EXPECT_EQ(strings[0].substr(0, 20), L"exception 0xC0000005");
    EXPECT_EQ(strings[1], L"1");  // seconds before the replacement began
}

}  // namespace

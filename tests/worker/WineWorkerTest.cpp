// The worker in the test program under Wine, against real victims: a machine fault in the middle
// of a run (injected with a double of the process snapshot's query) is survived by a replacement
// that opens the repair-pending file again, records what is new and nothing twice; a process whose
// module list leads in a circle holds up no other.
#include "image/RepairRecord.h"
#include "platform/Waits.h"
#include "worker/Worker.h"

#include "ImportPatch.h"
#include "RepairFileContents.h"
#include "SettingsKey.h"
#include "TempFiles.h"
#include "WaitUntil.h"
#include "process/victim/VictimProcess.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <process.h>
#include <thread>
#include <tuple>

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

// The worker threads a test started, the first and its replacements, and the ids and strings of
// what they logged.
struct Workers {
    explicit Workers(WorkerContext& context)
    {
        context.log = EventLog([this](WORD, DWORD id, std::span<const wchar_t* const> strings) {
            const std::lock_guard hold(lock);
            logged.emplace_back(id, std::vector<std::wstring>(strings.begin(), strings.end()));
        });
        context.startReplacement = [this, &context] {
            const std::lock_guard hold(lock);
            return threads.emplace_back(reinterpret_cast<HANDLE>(::_beginthreadex(
                       nullptr, 0, WorkerThreadProc, &context, 0, nullptr))).valid();
        };
    }
    ~Workers() { static_cast<void>(Ended()); }
    // Whether the workers started so far, and those they started, ended within 5 s each.
    bool Ended()
    {
        for (std::size_t index = 0;; ++index) {
            std::unique_lock hold(lock);
            if (index == threads.size()) {
                return true;
            }
            const HANDLE thread = threads[index].get();
            hold.unlock();
            if (::WaitForSingleObject(thread, 5000) != WAIT_OBJECT_0) {
                return false;
            }
        }
    }

    std::mutex lock;
    std::vector<os::UniqueHandle> threads;
    std::vector<std::pair<DWORD, std::vector<std::wstring>>> logged;
};

TEST(WineWorker, AReplacementAfterAFaultReopensTheFileAndRecordsNothingTwice)
{
    const RemoveSettingsAtTheEnd cleanup;
    TempFiles temp;
    const std::wstring configured = temp.Path(L"worker.dat");
    g_repairFile = temp.Path(L"worker64.dat");
    SetText(L"RepairPendingFile", configured);
    g_realQuery = reinterpret_cast<QueryProc>(reinterpret_cast<void (*)()>(
        ::GetProcAddress(::GetModuleHandleW(L"ntdll"), "NtQuerySystemInformation")));
    const EntryPointPatch faulting("NtQuerySystemInformation",
                                   reinterpret_cast<const void*>(&FaultingQuery));
    WorkerContext context;
    context.settings = [] { return GateSettings{100, 100, 300000}; };
    context.levelOf = [](std::wstring_view path) {
        return path.ends_with(L"\\vlm_victim.exe") ? 1u : 0u;
    };
    const os::UniqueHandle stop = CreateNamedEvent(kStopEventName);
    const VictimProcess victim;
    ASSERT_TRUE(victim.reported);
    Workers workers(context);
    ASSERT_TRUE(context.startReplacement());

    ASSERT_TRUE(WaitUntil([] { return g_faulted.load(); }, kRecordWait));
    // Only a replacement that could open the file again records the mapping victim's first library.
    const VictimProcess mapping(L"map \"" + victim.path + L"\"");
    const bool recorded =
        WaitUntil([] { return FileSize(g_repairFile) >= 2 * kRepairRecordBytes; }, kRecordWait);
    std::this_thread::sleep_for(500ms);  // a few more cycles, which must add nothing
    ::SetEvent(stop.get());
    EXPECT_TRUE(workers.Ended());

    ASSERT_TRUE(recorded);
    bool whole = false;
    const std::vector<RepairRecord> records = ReadRecords(g_repairFile, whole);
    EXPECT_TRUE(whole);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].componentPath, Beside(L"vlm_victim_second.dll"));
    EXPECT_EQ(records[0].loadBase, victim.second);
    EXPECT_EQ(records[1].componentPath, Beside(L"vlm_victim_first.dll"));
    EXPECT_EQ(records[1].processPath, victim.path);
    ASSERT_EQ(workers.logged.size(), 1u);
    const auto& [id, strings] = workers.logged[0];
    EXPECT_EQ(id, kWorkerFailedEvent);
    ASSERT_EQ(strings.size(), 2u);
    EXPECT_EQ(strings[0].substr(0, 20), L"exception 0xC0000005");
    EXPECT_EQ(strings[1], L"1");  // seconds before the replacement began
}

TEST(WineWorker, AProcessWhoseListLoopsIsExaminedWithoutHoldingUpAnOrdinaryOne)
{
    const RemoveSettingsAtTheEnd cleanup;
    TempFiles temp;
    SetText(L"RepairPendingFile", temp.Path(L"looping.dat"));
    const std::wstring repairFile = temp.Path(L"looping64.dat");
    WorkerContext context;
    context.settings = [] { return GateSettings{100, 100, 300000}; };
    context.levelOf = [](std::wstring_view path) {
        return path.find(L"\\vlm_victim") != std::wstring_view::npos ? 1u : 0u;
    };
    const os::UniqueHandle stop = CreateNamedEvent(kStopEventName);
    const VictimProcess ordinary(L"", L"vlm_victim_two.exe");
    const VictimProcess looping(L"forge vlm-worker-bait loop");  // the later: visited first
    ASSERT_TRUE(ordinary.reported && looping.reported);
    Workers workers(context);
    ASSERT_TRUE(context.startReplacement());
    // One cycle of both takes about two seconds of pacing; were the 500 entries that map nothing
    // paced as well, almost a minute.
    const bool recorded = WaitUntil(
        [&] { return FileSize(repairFile) >= 2 * kRepairRecordBytes; }, kRecordWait);
    ::SetEvent(stop.get());
    EXPECT_TRUE(workers.Ended());
    ASSERT_TRUE(recorded);
    bool whole = false;
    const std::vector<RepairRecord> records = ReadRecords(repairFile, whole);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(std::tie(records[0].processPath, records[0].loadBase),
              std::tie(looping.path, looping.second));
    EXPECT_EQ(records[1].processPath + L"|" + records[1].componentPath,
              ordinary.path + L"|" + Beside(L"vlm_victim_second.dll"));
}

}  // namespace

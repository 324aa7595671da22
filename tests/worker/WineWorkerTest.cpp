// The worker in the test program under Wine, against real victims and with the registry watcher
// reloading the same exclusion lists: a machine fault at each place where a run holds something
// leaves nothing held, and a replacement records what is new and nothing twice; what would keep a
// service that records nothing silent reaches the log once, when it begins; and a process whose
// module list leads in a circle holds up no other.
#include "image/RepairRecord.h"
#include "platform/Waits.h"
#include "settings/SettingsLoader.h"
#include "worker/RegistryWatcher.h"
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
#include <optional>
#include <process.h>
#include <thread>
#include <tuple>

namespace {

using namespace testing_support;
using namespace std::chrono_literals;

constexpr auto kRecordWait = 20s;

// Where a double faults, once, after the repair-pending file holds its first record: the level
// lookup (inside the exclusion lists' lock), the owner's network provider (while the worker acts
// as the owner of a process), the write of a record (in the middle of an append).
enum class Place { LevelLookup, OwnersProvider, RecordWrite };
std::atomic<Place> g_place{Place::LevelLookup};
std::atomic<bool> g_armed{false};
std::atomic<bool> g_faulted{false};
std::atomic<bool> g_diskFull{false};  // a record's write fails instead
std::wstring g_unreachable;  // a path on a drive that only the process's owner sees

bool FaultNow(Place place) { return g_armed && g_place == place && !g_faulted.exchange(true); }

void FaultIf(bool now)
{
    volatile int* volatile nowhere = nullptr;
    if (now) {
        *nowhere = 1;
    }
}

decltype(&::GetFileAttributesW) g_realAttributes = nullptr;
decltype(&::WriteFile) g_realWriteFile = nullptr;

DWORD WINAPI UnreachableAttributes(LPCWSTR path)
{
    if (g_armed &&
        ::CompareStringOrdinal(path, -1, g_unreachable.c_str(), -1, TRUE) == CSTR_EQUAL) {
        ::SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_FILE_ATTRIBUTES;
    }
    return g_realAttributes(path);
}

DWORD WINAPI FaultingUniversalName(LPCWSTR, DWORD, LPVOID, LPDWORD)
{
    FaultIf(FaultNow(Place::OwnersProvider));
    return ERROR_NOT_CONNECTED;
}

BOOL WINAPI FaultingWrite(HANDLE file, LPCVOID bytes, DWORD count, LPDWORD written,
                          LPOVERLAPPED position)
{
    const bool record = count == kRepairRecordBytes;
    FaultIf(record && FaultNow(Place::RecordWrite));
    if (record && g_diskFull) {
        ::SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    return g_realWriteFile(file, bytes, count, written, position);
}

template <typename Proc>
const void* AsDouble(Proc proc)
{
    return reinterpret_cast<const void*>(proc);
}

// The handles of the kinds a run could leave open: to processes, tokens, files, file mappings and
// registry keys. Others come and go with the runtime's first uses (a thread handle for the
// threading library, a semaphore for a contended lock, the debug output's mutex).
DWORD CountResourceHandles()
{
    constexpr ULONG_PTR kHandleStep = 4;
    constexpr ULONG_PTR kLargestHandle = 0x4000;
    DWORD count = 0;
    for (ULONG_PTR value = kHandleStep; value <= kLargestHandle; value += kHandleStep) {
        alignas(PUBLIC_OBJECT_TYPE_INFORMATION) unsigned char type[1024] = {};
        if (::NtQueryObject(reinterpret_cast<HANDLE>(value), ObjectTypeInformation, type,
                            sizeof type, nullptr) == 0) {
            const UNICODE_STRING& name =
                reinterpret_cast<PUBLIC_OBJECT_TYPE_INFORMATION*>(type)->TypeName;
            const std::wstring kind(name.Buffer, name.Length / sizeof(wchar_t));
            count += kind == L"Process" || kind == L"Token" || kind == L"File" ||
                     kind == L"Section" || kind == L"Key";
        }
    }
    return count;
}

HANDLE BeginThread(unsigned(WINAPI* procedure)(void*), void* context)
{
    return reinterpret_cast<HANDLE>(::_beginthreadex(nullptr, 0, procedure, context, 0, nullptr));
}

// Levels from the registry, loaded as the service loads them: the first victim's name 1, the
// second's 2, any other program 0. The workers a test starts, the first and its replacements,
// write what they log here, and whether a failed worker still acted as another user when it
// asked for its replacement.
class WineWorker : public testing::Test {
protected:
    void SetUp() override
    {
        g_armed = g_faulted = g_diskFull = false;
        SetNumber(kProcessListKey, L"vlm_victim.exe", 1);
        SetNumber(kProcessListKey, L"vlm_victim_two.exe", 2);
        ASSERT_TRUE(LoadSettings(settings, lists, systemLevel));
        context.settings = [] { return GateSettings{100, 100, 300000}; };
        context.levelOf = [this](std::wstring_view path) { return lists.ProcessLevel(path); };
        context.log = EventLog([this](WORD, DWORD id, std::span<const wchar_t* const> strings) {
            const std::lock_guard hold(lock);
            ids.push_back(id);
            logged.emplace_back(strings.begin(), strings.end());
        });
        context.startReplacement = [this] {
            const std::lock_guard hold(lock);
            os::UniqueHandle token;
            impersonatingAtReplacement |= ::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY,
                                                            TRUE, token.put()) != FALSE;
            return threads.emplace_back(BeginThread(WorkerThreadProc, &context)).valid();
        };
    }
    void TearDown() override { static_cast<void>(WorkersEnded()); }

    // Whether the workers started so far, and those they started, ended within 5 s each; their
    // handles are closed then.
    bool WorkersEnded()
    {
        for (std::size_t index = 0;; ++index) {
            std::unique_lock hold(lock);
            if (index == threads.size()) {
                threads.clear();
                return true;
            }
            const HANDLE thread = threads[index].get();
            hold.unlock();
            if (::WaitForSingleObject(thread, 5000) != WAIT_OBJECT_0) {
                return false;
            }
        }
    }
    std::size_t Logged()
    {
        const std::lock_guard hold(lock);
        return ids.size();
    }
    std::size_t RecordsWritten() const { return FileSize(repairFile) / kRepairRecordBytes; }

    const RemoveSettingsAtTheEnd cleanup;
    TempFiles temp;
    const std::wstring configured = temp.Path(L"worker.dat");
    const std::wstring repairFile = temp.Path(L"worker64.dat");
    ServiceSettings settings;
    ExclusionLists lists;
    std::atomic<std::uint32_t> systemLevel{0};
    WorkerContext context;
    std::mutex lock;
    std::vector<os::UniqueHandle> threads;
    std::vector<DWORD> ids;                         // of what was logged, in order
    std::vector<std::vector<std::wstring>> logged;  // the strings of each entry
    bool impersonatingAtReplacement = false;
};

class WineWorkerFault : public WineWorker, public testing::WithParamInterface<Place> {};

TEST_P(WineWorkerFault, ReleasesWhatTheRunHeldAndTheReplacementRecordsWhatItHadNot)
{
    g_place = GetParam();
    SetText(L"RepairPendingFile", configured);
    const ImportPatch provider("WNetGetUniversalNameW", AsDouble(&FaultingUniversalName));
    const ImportPatch write("WriteFile", AsDouble(&FaultingWrite));
    g_realWriteFile = write.Original<decltype(&::WriteFile)>();
    const ImportPatch attributes("GetFileAttributesW", AsDouble(&UnreachableAttributes));
    g_realAttributes = attributes.Original<decltype(&::GetFileAttributesW)>();
    // A view of memory that is not there, read inside the lists' own lock.
    const std::wstring_view nowhere(reinterpret_cast<const wchar_t*>(std::uintptr_t{16}), 8);
    context.levelOf = [this, nowhere](std::wstring_view path) {
        return lists.ProcessLevel(FaultNow(Place::LevelLookup) ? nowhere : path);
    };
    std::atomic<int> reloads{0};
    RegistryWatcherContext watching{{}, [&] {
        static_cast<void>(LoadSettings(settings, lists, systemLevel));
        ++reloads;
    }};
    const os::UniqueHandle stop = CreateNamedEvent(kStopEventName);
    const VictimProcess victim;
    ASSERT_TRUE(victim.reported);
    std::optional<VictimProcess> mapping;  // relocates the first library too
    g_unreachable = Beside(L"vlm_victim_first.dll");
    const DWORD handlesBefore = CountResourceHandles();
    os::UniqueHandle watcher(BeginThread(RegistryWatchThreadProc, &watching));
    ASSERT_TRUE(context.startReplacement());

    ASSERT_TRUE(WaitUntil([this] { return RecordsWritten() == 1; }, kRecordWait));
    g_armed = true;
    mapping.emplace(L"map \"" + victim.path + L"\"");
    ASSERT_TRUE(WaitUntil([] { return g_faulted.load(); }, kRecordWait));
    // The watcher reloads after a change: the lists' lock was released.
    SetNumber(kSettingsKey, L"MainLoopWait", 100);
    EXPECT_TRUE(WaitUntil([&] { return reloads > 0; }, kRecordWait));
    // Only a replacement that could open the file again records the mapping victim's library.
    const bool recorded = WaitUntil([this] { return RecordsWritten() == 2; }, kRecordWait);
    std::this_thread::sleep_for(500ms);  // a few more cycles, which must add nothing
    ::SetEvent(stop.get());
    EXPECT_TRUE(WorkersEnded());
    EXPECT_EQ(::WaitForSingleObject(watcher.get(), 5000), WAIT_OBJECT_0);
    watcher.reset();
    mapping.reset();
    EXPECT_EQ(CountResourceHandles(), handlesBefore);
    EXPECT_FALSE(impersonatingAtReplacement);

    ASSERT_TRUE(recorded);
    bool whole = false;
    const std::vector<RepairRecord> records = ReadRecords(repairFile, whole);
    EXPECT_TRUE(whole);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].componentPath + L"|" + records[1].componentPath,
              Beside(L"vlm_victim_second.dll") + L"|" + g_unreachable);
    // Unwound, not abandoned; the replacement began a second later.
    ASSERT_EQ(ids, std::vector<DWORD>{kWorkerFailedEvent});
    ASSERT_EQ(logged[0].size(), 2u);
    EXPECT_EQ(logged[0][0].substr(0, 20) + L"|" + logged[0][1], L"exception 0xC0000005|1");
    EXPECT_EQ(logged[0][0].find(L"without unwinding"), std::wstring::npos) << logged[0][0];
}

INSTANTIATE_TEST_SUITE_P(EachPlace, WineWorkerFault,
                         testing::Values(Place::LevelLookup, Place::OwnersProvider,
                                         Place::RecordWrite));

TEST_F(WineWorker, EachTroubleOfTheRepairFileIsLoggedOnceWhenItBeginsAndSoIsItsEnd)
{
    // Without the stop event the worker cannot run, and says so.
    ASSERT_TRUE(context.startReplacement());
    ASSERT_TRUE(WorkersEnded());
    ASSERT_EQ(ids, std::vector<DWORD>{kStopEventMissingEvent});
    EXPECT_EQ(logged[0][0], std::to_wstring(ERROR_FILE_NOT_FOUND));
    ids.clear();
    logged.clear();

    const ImportPatch write("WriteFile", AsDouble(&FaultingWrite));
    g_realWriteFile = write.Original<decltype(&::WriteFile)>();
    const os::UniqueHandle stop = CreateNamedEvent(kStopEventName);
    const VictimProcess mapping(L"map \"" + Beside(L"vlm_victim.exe") + L"\"");
    ASSERT_TRUE(context.startReplacement());
    const auto loggedWithin = [this](std::size_t count) {
        const bool reached = WaitUntil([&] { return Logged() >= count; });
        std::this_thread::sleep_for(500ms);  // several cycles, which must log nothing more
        return reached;
    };
    // No setting; then a path whose folder does not exist.
    EXPECT_TRUE(loggedWithin(1));
    const std::wstring folder = temp.Path(L"folder");
    SetText(L"RepairPendingFile", folder + L"\\pending.dat");
    EXPECT_TRUE(loggedWithin(2));
    // The folder appears on a full disk: the file opens, and both libraries fail to append.
    g_diskFull = true;
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    EXPECT_TRUE(loggedWithin(4));
    g_diskFull = false;
    const VictimProcess two(L"", L"vlm_victim_two.exe");  // a record of its own process
    EXPECT_TRUE(loggedWithin(5));
    ::SetEvent(stop.get());
    EXPECT_TRUE(WorkersEnded());
    const std::wstring file = folder + L"\\pending64.dat";
    ::DeleteFileW(file.c_str());
    ::RemoveDirectoryW(folder.c_str());

    const std::vector<DWORD> expected{kRepairFileNotConfiguredEvent, kRepairFileNotOpenedEvent,
                                      kRepairFileWorksEvent, kRepairAppendFailedEvent,
                                      kRepairFileWorksEvent};
    ASSERT_EQ(ids, expected);
    // The path, the error and the system's text for it; none for a missing setting.
    EXPECT_TRUE(logged[0].empty());
    ASSERT_EQ(logged[1].size(), 3u);
    EXPECT_EQ(logged[1][0] + L"|" + logged[1][1] + L"|" + logged[3][1] + L"|" + logged[4][0],
              file + L"|3|112|" + file);  // path not found, disk full
    EXPECT_FALSE(logged[1][2].empty());
}

TEST_F(WineWorker, AProcessWhoseListLoopsIsExaminedWithoutHoldingUpAnOrdinaryOne)
{
    SetText(L"RepairPendingFile", configured);
    context.levelOf = [](std::wstring_view path) {
        return path.find(L"\\vlm_victim") != std::wstring_view::npos ? 1u : 0u;
    };
    const os::UniqueHandle stop = CreateNamedEvent(kStopEventName);
    const VictimProcess ordinary(L"", L"vlm_victim_two.exe");
    const VictimProcess looping(L"forge vlm-worker-bait loop");  // the later: visited first
    ASSERT_TRUE(ordinary.reported && looping.reported);
    ASSERT_TRUE(context.startReplacement());
    // One cycle of both takes about two seconds of pacing; were the 500 entries that map nothing
    // paced as well, almost a minute.
    const bool recorded = WaitUntil([this] { return RecordsWritten() >= 2; }, kRecordWait);
    ::SetEvent(stop.get());
    EXPECT_TRUE(WorkersEnded());
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

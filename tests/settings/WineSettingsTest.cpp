// The settings against Wine's real registry: its 32-bit view, its typed values, the system's
// upper-casing of list entries and the change notifications that the watcher thread waits for.
#include "service/ServiceModule.h"
#include "service/StopEvent.h"
#include "worker/WorkerThreads.h"

#include "EventLogDouble.h"
#include "SettingsKey.h"

#include <gtest/gtest.h>

#include <process.h>

namespace {

using namespace testing_support;

constexpr const wchar_t* kKey = kSettingsKey;
constexpr const wchar_t* kProcesses = L"SOFTWARE\\Velmora\\MRX\\ProcessExclusionList";
constexpr const wchar_t* kComponents = L"SOFTWARE\\Velmora\\MRX\\ComponentExclusionList";
constexpr DWORD kWatchFailed = 0xC0000010;
constexpr DWORD kWatchMs = 300;
constexpr DWORD kThreadEndMs = 5000;

void Set(const wchar_t* path, const wchar_t* name, DWORD type, const std::vector<BYTE>& data)
{
    SetSetting(path, name, type, data.data(), static_cast<DWORD>(data.size()));
}

// Runs the watcher thread with its stop event, signalled after a while; whether the thread had
// ended by itself by then, and its exit code.
std::pair<bool, DWORD> RunWatcher()
{
    const os::UniqueHandle stop = CreateNamedEvent(kStopEventName);
    const os::UniqueHandle watcher(reinterpret_cast<HANDLE>(
        ::_beginthreadex(nullptr, 0, RegistryWatchThreadProc, nullptr, 0, nullptr)));
    const bool endedByItself = ::WaitForSingleObject(watcher.get(), kWatchMs) == WAIT_OBJECT_0;
    DWORD code = STILL_ACTIVE;
    ::SignalObjectAndWait(stop.get(), watcher.get(), kThreadEndMs, FALSE);
    ::GetExitCodeThread(watcher.get(), &code);
    return {endedByItself, code};
}

class WineSettings : public ::testing::Test {
protected:
    void SetUp() override { module.InitModule(nullptr); }
    void TearDown() override
    {
        RemoveSettings();
    }
    CServiceModule module;
};

TEST_F(WineSettings, ValuesOfAnyTypeAreReadRaw)
{
    Set(kKey, L"VMThreshold", REG_SZ, {'8', 0, '0', 0, 0, 0});  // too long for a number
    Set(kKey, L"VMInactiveTime", REG_BINARY, {2, 0, 0, 0});
    Set(kKey, L"MainLoopWait", REG_BINARY, {0x34, 0x12});  // replaces the low bytes only
    Set(kKey, L"DefaultSystemOptimizationLevel", REG_DWORD, {3, 0, 0, 0});
    module.settings.MainLoopWait = 0xABCD5678;
    ASSERT_TRUE(module.LoadSettings());
    EXPECT_EQ(module.settings.VMThreshold, 95u);
    EXPECT_EQ(module.settings.VMInactiveTime, 120000u);
    EXPECT_EQ(module.settings.MainLoopWait, 0xABCD1234u);
    EXPECT_EQ(module.platform.systemOptimizationLevel, 3u);
}

TEST_F(WineSettings, BothListsAreLoadedWithEntriesAsTheSystemUpperCasesThem)
{
    Set(kKey, L"DefaultProcessOptimizationLevel", REG_DWORD, {1, 0, 0, 0});
    Set(kKey, L"DefaultComponentOptimizationLevel", REG_DWORD, {6, 0, 0, 0});
    Set(kProcesses, L"C:\\Program Files\\\u00C4pfel.EXE", REG_DWORD, {0, 0, 0, 0});
    Set(kComponents, L"lib.dll", REG_SZ, {0, 0});
    ASSERT_TRUE(module.LoadSettings());
    EXPECT_EQ(module.ProcessOptimizationLevel(L"D:\\x\\\u00E4PFEL.exe"), 0u);
    EXPECT_EQ(module.ProcessOptimizationLevel(L"D:\\other.exe"), 1u);
    const std::vector<ExclusionEntry> components = module.exclusionLists.Components().entries;
    ASSERT_EQ(components.size(), 1u);
    EXPECT_EQ(components[0].name, L"LIB.DLL");
    EXPECT_EQ(components[0].level, 6u);
}

LSTATUS WINAPI RefuseNotification(HKEY, BOOL, DWORD, HANDLE, BOOL) { return ERROR_ACCESS_DENIED; }

TEST_F(WineSettings, TheWatcherWatchesUntilTheStopOrEndsAtOnceReportingWhatItCannotDo)
{
    const EventLogDouble log;
    EXPECT_EQ(RunWatcher(), std::pair(true, DWORD{ERROR_FILE_NOT_FOUND}));
    Set(kKey, L"MainLoopWait", REG_DWORD, {1, 0, 0, 0});
    EXPECT_EQ(RunWatcher(), std::pair(false, 0ul));
    const ImportPatch patch("RegNotifyChangeKeyValue",
                            reinterpret_cast<const void*>(&RefuseNotification));
    EXPECT_EQ(RunWatcher(), std::pair(true, 0ul));
    EXPECT_EQ(g_loggedEvents,
              (std::vector<LoggedEvent>{
                  {EVENTLOG_ERROR_TYPE, kWatchFailed, {L"RegOpenKeyEx()", L"2"}},
                  {EVENTLOG_ERROR_TYPE, kWatchFailed, {L"RegFindFirstChange()", L"5"}}}));
}

}  // namespace

// The settings against Wine's real registry: its 32-bit view, its typed values, the list entries
// upper-cased, and the change notifications that the watcher thread waits for.
#include "platform/Waits.h"
#include "settings/SettingsLoader.h"
#include "worker/RegistryWatcher.h"

#include "ImportPatch.h"
#include "SettingsKey.h"

#include <gtest/gtest.h>

#include <atomic>
#include <process.h>
#include <thread>

namespace {

using namespace testing_support;

constexpr const wchar_t* kKey = kSettingsKey;
constexpr const wchar_t* kProcesses = kProcessListKey;
constexpr const wchar_t* kComponents = kComponentListKey;
constexpr DWORD kWatchMs = 300;
constexpr DWORD kThreadEndMs = 5000;

void Set(const wchar_t* path, const wchar_t* name, DWORD type, const std::vector<BYTE>& data)
{
    SetSetting(path, name, type, data.data(), static_cast<DWORD>(data.size()));
}

// The watcher thread's entries and reloads.
struct WatcherRecord {
    std::vector<std::pair<std::wstring, std::wstring>> failures;  // operation and error
    int reloads = 0;
};

// Runs the watcher thread with its stop event, signalled after a while; whether the thread had
// ended by itself by then, and its exit code.
std::pair<bool, DWORD> RunWatcher(WatcherRecord& record)
{
    RegistryWatcherContext context;
    context.log = EventLog([&record](WORD, DWORD id, std::span<const wchar_t* const> strings) {
        EXPECT_EQ(id, kRegistryWatchFailedEvent);
        record.failures.emplace_back(strings[0], strings[1]);
    });
    context.reload = [&record] { ++record.reloads; };
    const os::UniqueHandle stop = CreateNamedEvent(kStopEventName);
    const os::UniqueHandle watcher(reinterpret_cast<HANDLE>(
        ::_beginthreadex(nullptr, 0, RegistryWatchThreadProc, &context, 0, nullptr)));
    const bool endedByItself = ::WaitForSingleObject(watcher.get(), kWatchMs) == WAIT_OBJECT_0;
    DWORD code = STILL_ACTIVE;
    ::SignalObjectAndWait(stop.get(), watcher.get(), kThreadEndMs, FALSE);
    ::GetExitCodeThread(watcher.get(), &code);
    return {endedByItself, code};
}

// What a load fills, as the service holds it.
class WineSettings : public ::testing::Test {
protected:
    [[nodiscard]] bool Load() { return LoadSettings(settings, lists, systemLevel); }

    RemoveSettingsAtTheEnd cleanup;
    ServiceSettings settings;
    ExclusionLists lists;
    std::atomic<std::uint32_t> systemLevel{0};
};

TEST_F(WineSettings, ValuesOfAnyTypeAreReadRaw)
{
    Set(kKey, L"VMThreshold", REG_SZ, {'8', 0, '0', 0, 0, 0});  // too long for a number
    Set(kKey, L"VMInactiveTime", REG_BINARY, {2, 0, 0, 0});
    Set(kKey, L"MainLoopWait", REG_BINARY, {0x34, 0x12});  // replaces the low bytes only
    Set(kKey, L"DefaultSystemOptimizationLevel", REG_DWORD, {3, 0, 0, 0});
    settings.MainLoopWait = 0xABCD5678;
    ASSERT_TRUE(Load());
    EXPECT_EQ(settings.VMThreshold, 95u);
    EXPECT_EQ(settings.VMInactiveTime, 120000u);
    EXPECT_EQ(settings.MainLoopWait, 0xABCD1234u);
    EXPECT_EQ(systemLevel, 3u);
}

TEST_F(WineSettings, BothListsAreLoadedWithEntriesAsTheSystemUpperCasesThem)
{
    Set(kKey, L"DefaultProcessOptimizationLevel", REG_DWORD, {1, 0, 0, 0});
    Set(kKey, L"DefaultComponentOptimizationLevel", REG_DWORD, {6, 0, 0, 0});
    Set(kProcesses, L"C:\\Program Files\\\u00C4pfel.EXE", REG_DWORD, {0, 0, 0, 0});
    Set(kComponents, L"lib.dll", REG_SZ, {0, 0});
    ASSERT_TRUE(Load());
    EXPECT_EQ(lists.ProcessLevel(L"D:\\x\\\u00E4PFEL.exe"), 0u);
    EXPECT_EQ(lists.ProcessLevel(L"D:\\other.exe"), 1u);
    const std::vector<ExclusionEntry> components = lists.Components().entries;
    ASSERT_EQ(components.size(), 1u);
    EXPECT_EQ(components[0].name, L"LIB.DLL");
    EXPECT_EQ(components[0].level, 6u);
}

LSTATUS WINAPI RefuseNotification(HKEY, BOOL, DWORD, HANDLE, BOOL) { return ERROR_ACCESS_DENIED; }

TEST_F(WineSettings, TheWatcherReloadsOnAChangeUntilTheStopOrEndsAtOnceReportingWhatItCannot)
{
    WatcherRecord missing;
    EXPECT_EQ(RunWatcher(missing), std::pair(true, DWORD{ERROR_FILE_NOT_FOUND}));
    EXPECT_EQ(missing.failures, (decltype(missing.failures){{L"RegOpenKeyEx()", L"2"}}));
    EXPECT_FALSE(Load());  // nothing to load either

    Set(kKey, L"MainLoopWait", REG_DWORD, {1, 0, 0, 0});
    WatcherRecord watching;
    std::thread change([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(kWatchMs / 3));
        Set(kProcesses, L"new.exe", REG_DWORD, {1, 0, 0, 0});  // a change below the key
    });
    EXPECT_EQ(RunWatcher(watching), std::pair(false, 0ul));
    change.join();
    EXPECT_TRUE(watching.failures.empty());
    EXPECT_GE(watching.reloads, 1);

    const ImportPatch patch("RegNotifyChangeKeyValue",
                            reinterpret_cast<const void*>(&RefuseNotification));
    WatcherRecord refused;
    EXPECT_EQ(RunWatcher(refused), std::pair(true, 0ul));
    EXPECT_EQ(refused.failures, (decltype(refused.failures){{L"RegFindFirstChange()", L"5"}}));
}

}  // namespace

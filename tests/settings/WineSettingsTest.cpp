// Settings, exclusion lists and the registry watcher against the real registry: its 32-bit view,
// its typed values, its change notifications and the system's upper-casing.
#include "service/ServiceModule.h"

#include "service/StopEvent.h"
#include "worker/RegistryWatcher.h"
#include "worker/WorkerThreads.h"

#include <gtest/gtest.h>

#include <chrono>
#include <process.h>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr const wchar_t* kSettingsPath = L"SOFTWARE\\Velmora\\MRX";
constexpr const wchar_t* kProcessListPath = L"SOFTWARE\\Velmora\\MRX\\ProcessExclusionList";
constexpr const wchar_t* kVelmoraPath = L"SOFTWARE\\Velmora";
constexpr DWORD kNotificationMs = 2000;
constexpr DWORD kThreadEndMs = 5000;
constexpr auto kReloadTimeout = std::chrono::seconds(10);

void SetValue(const wchar_t* path, const wchar_t* name, DWORD type, const void* data, DWORD bytes,
              REGSAM view = KEY_WOW64_32KEY)
{
    os::UniqueKey key;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_WRITE | view,
                                nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(::RegSetValueExW(key.get(), name, 0, type, static_cast<const BYTE*>(data), bytes),
              ERROR_SUCCESS);
}

void SetNumber(const wchar_t* path, const wchar_t* name, DWORD value,
               REGSAM view = KEY_WOW64_32KEY)
{
    SetValue(path, name, REG_DWORD, &value, sizeof value, view);
}

void SetText(const wchar_t* path, const wchar_t* name, const std::wstring& text)
{
    SetValue(path, name, REG_SZ, text.c_str(),
             static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

class WineSettingsTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (const REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
            for (const wchar_t* path : {kProcessListPath, kSettingsPath, kVelmoraPath}) {
                ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path, view, 0);
            }
        }
    }

    CServiceModule module;
};

TEST_F(WineSettingsTest, ReadsRawNumbersOfAnyTypeFromTheThirtyTwoBitView)
{
    SetText(kSettingsPath, L"VMThreshold", L"80");  // 6 bytes: too long for a number
    const BYTE binaryTwo[] = {2, 0, 0, 0};
    SetValue(kSettingsPath, L"VMInactiveTime", REG_BINARY, binaryTwo, sizeof binaryTwo);
    const BYTE oneByte[] = {0x05};
    SetValue(kSettingsPath, L"MainLoopWait", REG_BINARY, oneByte, sizeof oneByte);
    SetNumber(kSettingsPath, L"WatchThreshold", 128);
    SetNumber(kSettingsPath, L"WorkingSet", 9, KEY_WOW64_64KEY);  // not the service's view

    ASSERT_TRUE(module.LoadSettings());
    EXPECT_EQ(module.settings.VMThreshold, 95u);
    EXPECT_EQ(module.settings.VMInactiveTime, 120000u);
    EXPECT_EQ(module.settings.MainLoopWait, 5u);  // over the zero the field held before
    EXPECT_EQ(module.settings.WatchThreshold, 131072u);
    EXPECT_EQ(module.settings.WorkingSet, 1u);
    EXPECT_EQ(module.settings.ComponentLoopWait, 500u);
}

TEST_F(WineSettingsTest, AKeyOnlyInTheSixtyFourBitViewIsMissing)
{
    SetNumber(kSettingsPath, L"MainLoopWait", 1, KEY_WOW64_64KEY);
    EXPECT_FALSE(module.LoadSettings());
}

TEST_F(WineSettingsTest, ListEntriesCompareAsTheSystemUpperCasesThem)
{
    SetNumber(kSettingsPath, L"DefaultProcessOptimizationLevel", 1);
    SetNumber(kProcessListPath, L"C:\\Program Files\\App\\\u00C4pfel.EXE", 0);
    SetText(kProcessListPath, L"tool.exe", L"7");
    const BYTE eightBytes[8] = {4};
    SetValue(kProcessListPath, L"wide.exe", REG_QWORD, eightBytes, sizeof eightBytes);

    ASSERT_TRUE(module.LoadSettings());
    EXPECT_EQ(module.ProcessOptimizationLevel(L"D:\\x\\\u00E4PFEL.exe"), 0u);
    EXPECT_EQ(module.ProcessOptimizationLevel(L"D:\\TOOL.EXE"), 1u);
    EXPECT_EQ(module.ProcessOptimizationLevel(L"D:\\wide.exe"), 1u);
    EXPECT_EQ(module.processExclusions.entries.size(), 2u);
}

TEST_F(WineSettingsTest, ANotificationCoversTheSubtreeOfTheThirtyTwoBitViewOnly)
{
    SetNumber(kSettingsPath, L"MainLoopWait", 1);
    os::UniqueKey key;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSettingsPath, 0, KEY_READ | KEY_WOW64_32KEY,
                              key.put()),
              ERROR_SUCCESS);
    const RegistryChangeWatch watch{key.get(), TRUE, REG_NOTIFY_CHANGE_NAME |
                                                         REG_NOTIFY_CHANGE_LAST_SET};
    const os::UniqueHandle event = RegFindFirstChange(watch);
    ASSERT_TRUE(event) << ::GetLastError();
    ASSERT_TRUE(RegFindNextChange(event.get(), watch));

    SetNumber(kSettingsPath, L"MainLoopWait", 2, KEY_WOW64_64KEY);
    EXPECT_EQ(::WaitForSingleObject(event.get(), 500), static_cast<DWORD>(WAIT_TIMEOUT));
    SetNumber(kProcessListPath, L"a.exe", 0);
    EXPECT_EQ(::WaitForSingleObject(event.get(), kNotificationMs), WAIT_OBJECT_0);

    ASSERT_TRUE(RegFindNextChange(event.get(), watch));
    EXPECT_EQ(::WaitForSingleObject(event.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    SetNumber(kSettingsPath, L"MainLoopWait", 3);
    EXPECT_EQ(::WaitForSingleObject(event.get(), kNotificationMs), WAIT_OBJECT_0);

    ASSERT_TRUE(RegFindNextChange(event.get(), watch));
    ASSERT_EQ(::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kProcessListPath, KEY_WOW64_32KEY, 0),
              ERROR_SUCCESS);
    EXPECT_EQ(::WaitForSingleObject(event.get(), kNotificationMs), WAIT_OBJECT_0);
}

// The watcher on a thread of its own, with the stop event it waits for; stopped and waited for
// when the test ends, also when it fails.
class WatcherThread {
public:
    WatcherThread()
        : stopEvent_(CreateNamedEvent(kStopEventName)),
          thread_(reinterpret_cast<HANDLE>(
              ::_beginthreadex(nullptr, 0, RegistryWatchThreadProc, nullptr, 0, nullptr)))
    {
    }
    ~WatcherThread() { static_cast<void>(Stop()); }
    WatcherThread(const WatcherThread&) = delete;
    WatcherThread& operator=(const WatcherThread&) = delete;

    bool Started() const { return stopEvent_ && thread_; }
    bool Running() const { return ::WaitForSingleObject(thread_.get(), 0) == WAIT_TIMEOUT; }

    // Signals the stop and returns the exit code, or STILL_ACTIVE when the thread did not end.
    DWORD Stop()
    {
        DWORD exitCode = STILL_ACTIVE;
        if (Started()) {
            ::SetEvent(stopEvent_.get());
            ::WaitForSingleObject(thread_.get(), kThreadEndMs);
            ::GetExitCodeThread(thread_.get(), &exitCode);
        }
        return exitCode;
    }

private:
    os::UniqueHandle stopEvent_;
    os::UniqueHandle thread_;
};

constexpr auto kArmingMargin = std::chrono::milliseconds(300);
constexpr auto kReloadWindow = std::chrono::milliseconds(1500);

TEST_F(WineSettingsTest, TheWatcherThreadReloadsOnAChangeAndEndsOnTheStopEvent)
{
    SetNumber(kSettingsPath, L"MainLoopWait", 1000);
    ASSERT_TRUE(module.LoadSettings());
    WatcherThread watcher;
    ASSERT_TRUE(watcher.Started());

    // A change made before the watcher armed is not seen: change until a reload shows.
    const auto deadline = Clock::now() + kReloadTimeout;
    DWORD wait = 2000;
    while (module.settings.MainLoopWait != wait && Clock::now() < deadline) {
        SetNumber(kSettingsPath, L"MainLoopWait", ++wait);
        std::this_thread::sleep_for(kReloadWindow);
    }
    EXPECT_EQ(module.settings.MainLoopWait, wait);
    EXPECT_EQ(watcher.Stop(), 0u);
}

// Wine, like the registry's documentation, signals nothing when the watched key itself is
// deleted, and a key made again under the same name is another key.
TEST_F(WineSettingsTest, AWatchedKeyDeletedAndMadeAgainIsWatchedNoMore)
{
    SetNumber(kSettingsPath, L"MainLoopWait", 1000);
    ASSERT_TRUE(module.LoadSettings());
    WatcherThread watcher;
    ASSERT_TRUE(watcher.Started());
    std::this_thread::sleep_for(kArmingMargin);

    ASSERT_EQ(::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kSettingsPath, KEY_WOW64_32KEY, 0),
              ERROR_SUCCESS);
    SetNumber(kSettingsPath, L"MainLoopWait", 4321);
    std::this_thread::sleep_for(kReloadWindow);
    EXPECT_EQ(module.settings.MainLoopWait, 1000u);
    EXPECT_TRUE(watcher.Running());
    EXPECT_EQ(watcher.Stop(), 0u);
}

}  // namespace

#include "worker/RegistryWatcher.h"

#include "platform/fake/FakePlatform.h"
#include "service/ServiceModule.h"
#include "service/StopEvent.h"
#include "worker/WorkerThreads.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace {

using os::fake::FakePlatform;
using Clock = std::chrono::steady_clock;

const std::wstring kServiceKey = L"SOFTWARE\\Velmora\\MRX";
const std::wstring kProcessKey = kServiceKey + L"\\ProcessExclusionList";
const std::wstring kDevice = L"\\\\.\\VlmAltStr";
constexpr auto kPatience = std::chrono::seconds(10);

bool WaitUntil(const std::function<bool()>& condition)
{
    const auto deadline = Clock::now() + kPatience;
    while (!condition()) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

class RegistryWatcherTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        module.InitModule(nullptr);
        fake.files.AddDevice(kDevice);
        fake.registry.CreateKey(HKEY_LOCAL_MACHINE, kServiceKey);
        stopEvent.reset(fake.kernel.CreateEventW(TRUE, FALSE, kStopEventName));
    }

    void TearDown() override
    {
        if (watcher.valid()) {  // a failed test must not leave the thread waiting
            fake.kernel.SetEvent(stopEvent.get());
            watcher.wait();
        }
    }

    void Start()
    {
        watcher = std::async(std::launch::async, [] { return RegistryWatchThreadProc(nullptr); });
    }

    // The exit code, once the watcher has ended by itself (or by the stop event, when set).
    unsigned ExitCode()
    {
        if (watcher.wait_for(kPatience) != std::future_status::ready) {
            ADD_FAILURE() << "the watcher did not end";
            return STILL_ACTIVE;
        }
        return watcher.get();
    }

    // Both armings of a pass are in place: a change now is seen.
    bool Armed() const
    {
        return WaitUntil([this] { return fake.registry.ArmedNotificationCount() >= 2; });
    }

    bool Reloaded(std::size_t loads) const
    {
        return WaitUntil([&] { return fake.files.ControlCodes(kDevice).size() == loads; });
    }

    std::vector<std::wstring> Reported() const
    {
        const auto entries = fake.eventLog.Entries();
        if (entries.empty()) {
            return {};
        }
        EXPECT_EQ(entries.back().type, EVENTLOG_ERROR_TYPE);
        EXPECT_EQ(entries.back().eventId, CServiceModule::kRegistryWatchFailedEvent);
        return entries.back().strings;
    }

    FakePlatform fake;
    CServiceModule module;
    os::UniqueHandle stopEvent;
    std::future<unsigned> watcher;
};

TEST_F(RegistryWatcherTest, EachChangeBelowTheKeyReloadsUntilTheStopEndsItWithZero)
{
    fake.registry.SetDword(HKEY_LOCAL_MACHINE, kServiceKey, L"DefaultProcessOptimizationLevel", 1);
    Start();
    ASSERT_TRUE(Armed());
    EXPECT_TRUE(fake.files.ControlCodes(kDevice).empty());  // no load of its own at start

    fake.registry.SetDword(HKEY_LOCAL_MACHINE, kServiceKey, L"MainLoopWait", 1234);
    ASSERT_TRUE(Reloaded(1));
    EXPECT_EQ(module.settings.MainLoopWait, 1234u);

    ASSERT_TRUE(Armed());
    fake.registry.SetDword(HKEY_LOCAL_MACHINE, kProcessKey, L"C:\\bin\\skip.exe", 0);
    ASSERT_TRUE(Reloaded(2));
    EXPECT_EQ(module.ProcessOptimizationLevel(L"skip.exe"), 0u);

    ASSERT_TRUE(Armed());
    fake.registry.DeleteKey(HKEY_LOCAL_MACHINE, kProcessKey);
    ASSERT_TRUE(Reloaded(3));  // a subkey deleted is a change below the key
    EXPECT_EQ(module.ProcessOptimizationLevel(L"skip.exe"), 1u);
    EXPECT_TRUE(module.processExclusions.entries.empty());

    ASSERT_TRUE(Armed());
    fake.kernel.SetEvent(stopEvent.get());
    EXPECT_EQ(ExitCode(), 0u);
    EXPECT_EQ(fake.files.ControlCodes(kDevice).size(), 3u);
    EXPECT_TRUE(fake.eventLog.Entries().empty());
    EXPECT_EQ(fake.registry.OpenKeyCount(), 0u);
    EXPECT_EQ(fake.handles.OpenCount(), 1u);  // the test's own stop event
}

TEST_F(RegistryWatcherTest, AMissingKeyEndsItAtOnceWithTheRegistryError)
{
    fake.registry.DeleteKey(HKEY_LOCAL_MACHINE, kServiceKey);
    Start();
    EXPECT_EQ(ExitCode(), static_cast<unsigned>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(Reported(), (std::vector<std::wstring>{L"RegOpenKeyEx()", L"2"}));
    EXPECT_EQ(fake.handles.OpenCount(), 1u);
    EXPECT_EQ(fake.registry.OpenKeyCount(), 0u);
}

TEST_F(RegistryWatcherTest, AMissingStopEventEndsItAtOnce)
{
    stopEvent.reset();
    Start();
    EXPECT_EQ(ExitCode(), static_cast<unsigned>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(Reported(), (std::vector<std::wstring>{L"OpenEvent()", L"2"}));
    EXPECT_EQ(fake.OpenResourceCount(), 1u);  // the module's event source
}

TEST_F(RegistryWatcherTest, AFailedArmingEndsTheLoopWithZero)
{
    const struct {
        std::size_t armingsFirst;
        const wchar_t* operation;
    } cases[] = {
        {0, L"RegFindFirstChange()"},
        {1, L"RegFindNextChange()"},
    };
    for (const auto& c : cases) {
        fake.registry.FailNotify(ERROR_ACCESS_DENIED, c.armingsFirst);
        Start();
        EXPECT_EQ(ExitCode(), 0u) << c.operation;
        EXPECT_EQ(Reported(), (std::vector<std::wstring>{c.operation, L"5"}));
        EXPECT_EQ(fake.handles.OpenCount(), 1u) << c.operation;
        EXPECT_EQ(fake.registry.OpenKeyCount(), 0u) << c.operation;
    }
}

// The registry signals nothing when the watched key itself goes, and a key made again under the
// same name is another key: the watcher waits on, without reloading, until the stop.
TEST_F(RegistryWatcherTest, AKeyDeletedWhileWatchedIsWatchedNoMore)
{
    Start();
    ASSERT_TRUE(Armed());
    fake.registry.DeleteKey(HKEY_LOCAL_MACHINE, kServiceKey);
    fake.registry.SetDword(HKEY_LOCAL_MACHINE, kServiceKey, L"MainLoopWait", 1234);
    EXPECT_EQ(watcher.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    EXPECT_TRUE(fake.files.ControlCodes(kDevice).empty());

    fake.kernel.SetEvent(stopEvent.get());
    EXPECT_EQ(ExitCode(), 0u);
    EXPECT_TRUE(fake.eventLog.Entries().empty());
}

TEST_F(RegistryWatcherTest, ArmingWatchesTheWholeSubtreeOnAFreshEvent)
{
    os::UniqueKey key;
    ASSERT_EQ(os::Registry().RegOpenKeyExW(HKEY_LOCAL_MACHINE, kServiceKey.c_str(), 0,
                                           KEY_READ | KEY_WOW64_32KEY, key.put()),
              ERROR_SUCCESS);
    const RegistryChangeWatch watch{key.get(), TRUE, REG_NOTIFY_CHANGE_LAST_SET};
    os::UniqueHandle event = RegFindFirstChange(watch);
    ASSERT_TRUE(event);
    EXPECT_FALSE(fake.kernel.IsSignalled(event.get()));
    fake.registry.SetDword(HKEY_LOCAL_MACHINE, kProcessKey, L"a.exe", 1);
    EXPECT_TRUE(fake.kernel.IsSignalled(event.get()));

    ASSERT_TRUE(RegFindNextChange(event.get(), watch));
    EXPECT_FALSE(fake.kernel.IsSignalled(event.get()));
    EXPECT_EQ(fake.registry.ArmedNotificationCount(), 1u);

    fake.registry.FailNotify(ERROR_KEY_DELETED);
    fake.errors.SetLastError(0);
    EXPECT_FALSE(RegFindNextChange(event.get(), watch));
    EXPECT_EQ(fake.errors.GetLastError(), static_cast<DWORD>(ERROR_KEY_DELETED));
    fake.registry.FailNotify(ERROR_KEY_DELETED);
    EXPECT_FALSE(RegFindFirstChange(watch));
    EXPECT_EQ(fake.errors.GetLastError(), static_cast<DWORD>(ERROR_KEY_DELETED));
}

}  // namespace

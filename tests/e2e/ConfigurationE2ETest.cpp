// The running service end to end: installed with its own switch, started and stopped by Wine's
// service control manager, its settings written with the system's `reg` as an administrator does,
// and the test driver (tests/driver/) in place of the stream driver, loaded by Wine's driver host
// and recording the codes it receives.
#include "driver/AltStrFixture.h"
#include "e2e/E2eSupport.h"

#include "SettingsKey.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace e2e;
using Codes = std::vector<DWORD>;

// The driver codes: settings loaded, service stop, service start.
constexpr DWORD kLoaded = 0x00084020;
constexpr DWORD kStop = 0x00084024;
constexpr DWORD kStart = 0x00084028;
// Longer than a reload (a pause of one second, then the code).
constexpr auto kReloadWindow = std::chrono::seconds(3);
constexpr int kChangeAttempts = 4;
// The threads get a second after the stop signal; the rest is the service manager's.
constexpr auto kPromptStop = std::chrono::seconds(3);

os::UniqueFile OpenDevice()
{
    return os::UniqueFile(::CreateFileW(L"\\\\.\\VlmAltStr", GENERIC_READ | GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
}

// Every code the test driver received since it was loaded, oldest first; empty without it.
Codes DriverCodes()
{
    Codes codes(kFixtureCodeCapacity);
    DWORD bytes = 0;
    ::DeviceIoControl(OpenDevice().get(), kFixtureQueryCodes, nullptr, 0, codes.data(),
                      DWORD(codes.size() * sizeof(DWORD)), &bytes, nullptr);
    codes.resize(bytes / sizeof(DWORD));
    return codes;
}

// Writes a number with `reg` to the service key or the key `below` it, in the registry view of
// `bits`.
DWORD AddSetting(const wchar_t* name, int value, const wchar_t* bits = L"32",
                 const wchar_t* below = L"")
{
    return RunCommand(std::wstring(L"reg add HKLM\\SOFTWARE\\Velmora\\MRX") + below + L" /v " +
                      name + L" /t REG_DWORD /d " + std::to_wstring(value) + L" /f /reg:" + bits);
}

TEST(ConfigurationEndToEnd, TheDriverHearsTheStartEachReloadAndLastTheStopOfAServiceWithItsKey)
{
    const RemoveEverythingAtTheEnd cleanup;
    const testing_support::RemoveSettingsAtTheEnd settings;
    ASSERT_EQ(RunCommand(L"sc create VlmAltStrFixture type= kernel binPath= \"" +
                         Beside(L"vlm_altstr_fixture.sys") + L"\""),
              0u);
    ASSERT_EQ(RunCommand(L"sc start VlmAltStrFixture"), 0u);
    ASSERT_TRUE(WaitUntil([] { return OpenDevice().valid(); }));
    ASSERT_EQ(RunByHand(L" -Service"), 0u);
    const auto service = OpenOurService(SERVICE_ALL_ACCESS);

    // A key in the 64-bit view only is no settings key: the service stops and tells nobody.
    ASSERT_EQ(AddSetting(L"MainLoopWait", 10000, L"64"), 0u);
    ASSERT_TRUE(::StartServiceW(service.get(), 0, nullptr));
    EXPECT_EQ(WaitForState(service.get(), SERVICE_STOPPED).dwWin32ExitCode, 0x80040150u);
    EXPECT_TRUE(DriverCodes().empty());

    ASSERT_EQ(AddSetting(L"MainLoopWait", 10000), 0u);
    ASSERT_TRUE(::StartServiceW(service.get(), 0, nullptr));
    EXPECT_EQ(WaitForState(service.get(), SERVICE_RUNNING).dwControlsAccepted,
              DWORD{SERVICE_ACCEPT_STOP});
    ASSERT_TRUE(WaitUntil([] { return DriverCodes().size() >= 2; }));
    EXPECT_EQ(DriverCodes(), (Codes{kLoaded, kStart}));
    // A change made before the watcher armed goes unseen: changed until a reload follows.
    for (int level = 1; DriverCodes().size() == 2 && level <= kChangeAttempts; ++level) {
        AddSetting(L"skip.exe", level, L"32", L"\\ProcessExclusionList");
        WaitUntil([] { return DriverCodes().size() > 2; }, kReloadWindow);
    }
    const SERVICE_STATUS status = Stop(service.get(), kPromptStop);
    EXPECT_EQ(status.dwCurrentState, DWORD{SERVICE_STOPPED});
    EXPECT_EQ(status.dwWin32ExitCode, 0u);
    // The last report keeps the check point of the stop-pending ones: one per look at the
    // threads and one after them.
    EXPECT_GE(status.dwCheckPoint, 2u);
    EXPECT_EQ(DriverCodes(), (Codes{kLoaded, kStart, kLoaded, kStop}));

}

}  // namespace

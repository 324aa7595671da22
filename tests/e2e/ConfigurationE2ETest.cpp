// The service's configuration end to end: the executable as a real service under Wine's service
// control manager, its settings in the real registry, and the test driver (tests/driver/) in
// place of the stream driver, loaded by Wine's driver host and recording the codes it receives.
#include "platform/UniqueResource.h"

#include "driver/AltStrFixture.h"
#include "e2e/E2eSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using Codes = std::vector<DWORD>;

using e2e::kAppIdPath;
using e2e::kServiceName;
using e2e::kSettingsPath;

constexpr const wchar_t* kDriverName = L"VlmAltStrFixture";
constexpr const wchar_t* kDevicePath = L"\\\\.\\VlmAltStr";
constexpr const wchar_t* kVelmoraPath = L"SOFTWARE\\Velmora";
constexpr const wchar_t* kProcessListPath = L"SOFTWARE\\Velmora\\MRX\\ProcessExclusionList";
constexpr DWORD kSettingsLoaded = 0x00084020;
constexpr DWORD kServiceStop = 0x00084024;
constexpr DWORD kServiceStart = 0x00084028;
constexpr DWORD kSettingsNotLoaded = 0x80040150;

constexpr auto kStateTimeout = milliseconds(15000);
constexpr auto kCodeTimeout = milliseconds(5000);
// Longer than a reload (a pause of one second, then the code): a change that no reload followed
// within it was not seen.
constexpr auto kReloadWindow = milliseconds(3000);
// The watcher arms within milliseconds of its start; this leaves it ample time.
constexpr auto kArmingMargin = milliseconds(300);
// Into a reload (it pauses one second before its code) but well before the stop's limit of one
// second for the threads.
constexpr auto kIntoReload = milliseconds(200);
constexpr auto kPoll = milliseconds(10);
constexpr int kChangeAttempts = 4;
constexpr DWORD kProcessTimeoutMs = 30000;

std::wstring BesideThisProgram(const wchar_t* fileName)
{
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring self(path);
    return self.substr(0, self.find_last_of(L'\\') + 1) + fileName;
}

bool WaitUntil(const std::function<bool()>& condition, Clock::duration timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (!condition()) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(kPoll);
    }
    return true;
}

// Every code the test driver received since it was loaded, oldest first; empty without it.
Codes DriverCodes()
{
    const os::UniqueFile device(::CreateFileW(kDevicePath, GENERIC_READ | GENERIC_WRITE,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    Codes codes(kFixtureCodeCapacity);
    DWORD bytes = 0;
    if (!device || !::DeviceIoControl(device.get(), kFixtureQueryCodes, nullptr, 0, codes.data(),
                                      static_cast<DWORD>(codes.size() * sizeof(DWORD)), &bytes,
                                      nullptr)) {
        return {};
    }
    codes.resize(bytes / sizeof(DWORD));
    return codes;
}

// Runs the system's `reg` command, as an administrator would; its exit code.
DWORD RunReg(const std::wstring& arguments)
{
    std::wstring commandLine = L"reg.exe " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          nullptr, &startup, &info)) {
        return ::GetLastError();
    }
    const os::UniqueHandle process(info.hProcess);
    const os::UniqueHandle thread(info.hThread);
    DWORD exitCode = STILL_ACTIVE;
    if (::WaitForSingleObject(process.get(), kProcessTimeoutMs) != WAIT_OBJECT_0) {
        ::TerminateProcess(process.get(), 1);
    }
    ::GetExitCodeProcess(process.get(), &exitCode);
    return exitCode;
}

bool DeviceExists()
{
    const os::UniqueFile device(::CreateFileW(kDevicePath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                              nullptr, OPEN_EXISTING, 0, nullptr));
    return static_cast<bool>(device);
}

// The settings key in one registry view, written the way an administrator's `reg add` does.
class SettingsKey {
public:
    explicit SettingsKey(REGSAM view) : view_(view) {}

    void SetNumber(const wchar_t* path, const wchar_t* name, DWORD value) const
    {
        os::UniqueKey key;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_WRITE | view_,
                                    nullptr, key.put(), nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(::RegSetValueExW(key.get(), name, 0, REG_DWORD,
                                   reinterpret_cast<const BYTE*>(&value), sizeof value),
                  ERROR_SUCCESS);
    }

    void Create() const { SetNumber(kSettingsPath, L"MainLoopWait", 10000); }

    void Delete() const
    {
        for (const wchar_t* path : {kProcessListPath, kSettingsPath, kVelmoraPath}) {
            ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path, view_, 0);
        }
    }

private:
    REGSAM view_;
};

const SettingsKey kThirtyTwoBitView(KEY_WOW64_32KEY);
const SettingsKey kSixtyFourBitView(KEY_WOW64_64KEY);

class ConfigurationEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        manager_.reset(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        ASSERT_TRUE(manager_) << ::GetLastError();
        ASSERT_NO_FATAL_FAILURE(LoadDriver());
        before_ = DriverCodes().size();
    }

    void TearDown() override
    {
        if (service_) {
            SERVICE_STATUS status{};
            ::ControlService(service_.get(), SERVICE_CONTROL_STOP, &status);
            WaitForState(SERVICE_STOPPED);
            ::DeleteService(service_.get());
            service_.reset();
        }
        ::RegDeleteKeyW(HKEY_CLASSES_ROOT, kAppIdPath);
        kThirtyTwoBitView.Delete();
        kSixtyFourBitView.Delete();
    }

    os::UniqueServiceHandle CreateDemandService(const wchar_t* name, DWORD type,
                                                const std::wstring& binaryPath) const
    {
        return os::UniqueServiceHandle(::CreateServiceW(
            manager_.get(), name, name, SERVICE_ALL_ACCESS, type, SERVICE_DEMAND_START,
            SERVICE_ERROR_NORMAL, binaryPath.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
    }

    // The test driver stays loaded from one test to the next; a test that unloads it leaves it
    // for the next SetUp to load again.
    void LoadDriver()
    {
        os::UniqueServiceHandle driver(
            ::OpenServiceW(manager_.get(), kDriverName, SERVICE_ALL_ACCESS));
        if (!driver) {
            driver = CreateDemandService(kDriverName, SERVICE_KERNEL_DRIVER,
                                         BesideThisProgram(L"vlm_altstr_fixture.sys"));
            ASSERT_TRUE(driver) << "CreateServiceW for the driver failed: " << ::GetLastError();
        }
        if (!DeviceExists()) {
            ASSERT_TRUE(::StartServiceW(driver.get(), 0, nullptr) ||
                        ::GetLastError() == ERROR_SERVICE_ALREADY_RUNNING)
                << "StartServiceW for the driver failed: " << ::GetLastError();
        }
        ASSERT_TRUE(WaitUntil(DeviceExists, kStateTimeout)) << "the driver made no device";
    }

    void UnloadDriver()
    {
        const os::UniqueServiceHandle driver(
            ::OpenServiceW(manager_.get(), kDriverName, SERVICE_ALL_ACCESS));
        ASSERT_TRUE(driver);
        SERVICE_STATUS status{};
        ASSERT_TRUE(::ControlService(driver.get(), SERVICE_CONTROL_STOP, &status))
            << ::GetLastError();
        ASSERT_TRUE(WaitUntil([] { return !DeviceExists(); }, kStateTimeout));
    }

    // What registration will leave: the service record and the AppID's "LocalService" value.
    void InstallService()
    {
        service_ = CreateDemandService(kServiceName, SERVICE_WIN32_OWN_PROCESS,
                                       L"\"" + BesideThisProgram(L"vlmmrxsvc.exe") + L"\"");
        ASSERT_TRUE(service_) << "CreateServiceW failed: " << ::GetLastError();
        e2e::MarkAsService();
    }

    SERVICE_STATUS_PROCESS WaitForState(DWORD state) const
    {
        SERVICE_STATUS_PROCESS status{};
        WaitUntil(
            [&] {
                DWORD needed = 0;
                ::QueryServiceStatusEx(service_.get(), SC_STATUS_PROCESS_INFO,
                                       reinterpret_cast<BYTE*>(&status), sizeof status, &needed);
                return status.dwCurrentState == state;
            },
            kStateTimeout);
        return status;
    }

    // Installs and starts the service and waits for its start codes, after which its watcher
    // is about to arm.
    void StartService()
    {
        ASSERT_NO_FATAL_FAILURE(InstallService());
        ASSERT_TRUE(::StartServiceW(service_.get(), 0, nullptr)) << ::GetLastError();
        ASSERT_EQ(WaitForState(SERVICE_RUNNING).dwCurrentState,
                  static_cast<DWORD>(SERVICE_RUNNING));
        ASSERT_TRUE(WaitUntil([this] { return New().size() >= 2; }, kCodeTimeout));
        ASSERT_EQ(New(), (Codes{kSettingsLoaded, kServiceStart}));
        std::this_thread::sleep_for(kArmingMargin);
    }

    SERVICE_STATUS_PROCESS StopService()
    {
        SERVICE_STATUS status{};
        EXPECT_TRUE(::ControlService(service_.get(), SERVICE_CONTROL_STOP, &status))
            << ::GetLastError();
        return WaitForState(SERVICE_STOPPED);
    }

    // The codes the driver received since this test began.
    Codes New() const
    {
        const Codes all = DriverCodes();
        return all.size() <= before_ ? Codes{} : Codes(all.begin() + before_, all.end());
    }

    // Makes `change` until a reload follows it; a change made before the watcher armed goes
    // unseen, so it is made again. True when a reload was seen.
    bool ChangeUntilReloaded(const std::function<void()>& change) const
    {
        for (int attempt = 0; attempt < kChangeAttempts; ++attempt) {
            const std::size_t seen = New().size();
            change();
            if (WaitUntil([&] { return New().size() > seen; }, kReloadWindow)) {
                return New().back() == kSettingsLoaded;
            }
        }
        return false;
    }

    os::UniqueServiceHandle manager_;
    os::UniqueServiceHandle service_;
    std::size_t before_ = 0;
};

TEST_F(ConfigurationEndToEnd, TheDriverHearsOfTheStartAndLastOfTheStop)
{
    kThirtyTwoBitView.Create();
    ASSERT_NO_FATAL_FAILURE(StartService());
    const SERVICE_STATUS_PROCESS status = StopService();
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(status.dwWin32ExitCode, 0u);
    EXPECT_EQ(New(), (Codes{kSettingsLoaded, kServiceStart, kServiceStop}));
}

TEST_F(ConfigurationEndToEnd, AChangeBelowTheKeyReloadsTheSettingsWhileTheServiceRuns)
{
    kThirtyTwoBitView.Create();
    ASSERT_NO_FATAL_FAILURE(StartService());
    // The way the README tells an administrator to do it.
    DWORD minutes = 1;
    EXPECT_TRUE(ChangeUntilReloaded([&] {
        EXPECT_EQ(RunReg(L"add HKLM\\SOFTWARE\\Velmora\\MRX /v VMInactiveTime /t REG_DWORD /d " +
                         std::to_wstring(++minutes) + L" /f /reg:32"),
                  0u);
    }));
    std::this_thread::sleep_for(kArmingMargin);
    EXPECT_TRUE(ChangeUntilReloaded(
        [&] { kThirtyTwoBitView.SetNumber(kProcessListPath, L"C:\\bin\\skip.exe", 0); }));
    EXPECT_EQ(WaitForState(SERVICE_RUNNING).dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
}

TEST_F(ConfigurationEndToEnd, AValueInTheSixtyFourBitViewIsNotTheServicesConcern)
{
    kThirtyTwoBitView.Create();
    ASSERT_NO_FATAL_FAILURE(StartService());
    kSixtyFourBitView.SetNumber(kSettingsPath, L"MainLoopWait", 1);
    std::this_thread::sleep_for(kReloadWindow);
    EXPECT_EQ(New().size(), 2u);
    // The watcher was listening all along.
    EXPECT_TRUE(ChangeUntilReloaded(
        [] { kThirtyTwoBitView.SetNumber(kSettingsPath, L"MainLoopWait", 2); }));
}

TEST_F(ConfigurationEndToEnd, TheStopCodeComesAfterAReloadInProgressHasFinished)
{
    kThirtyTwoBitView.Create();
    ASSERT_NO_FATAL_FAILURE(StartService());
    kThirtyTwoBitView.SetNumber(kSettingsPath, L"VMThreshold", 90);
    std::this_thread::sleep_for(kIntoReload);
    const std::size_t atStop = New().size();
    EXPECT_EQ(StopService().dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    // The watcher ended after finishing its reload, and only then the stop code went out; nothing
    // follows it.
    const Codes codes = New();
    ASSERT_GE(codes.size(), atStop + 2);
    EXPECT_EQ(codes[codes.size() - 2], kSettingsLoaded);
    EXPECT_EQ(codes.back(), kServiceStop);
    std::this_thread::sleep_for(kReloadWindow);
    EXPECT_EQ(New(), codes);
}

TEST_F(ConfigurationEndToEnd, WithoutItsSettingsKeyTheServiceSendsNothing)
{
    ASSERT_NO_FATAL_FAILURE(InstallService());
    ASSERT_TRUE(::StartServiceW(service_.get(), 0, nullptr)) << ::GetLastError();
    const SERVICE_STATUS_PROCESS status = WaitForState(SERVICE_STOPPED);
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(status.dwWin32ExitCode, kSettingsNotLoaded);
    EXPECT_TRUE(New().empty());
}

TEST_F(ConfigurationEndToEnd, WithoutTheDriverTheServiceStartsReloadsAndStops)
{
    ASSERT_NO_FATAL_FAILURE(UnloadDriver());
    kThirtyTwoBitView.Create();
    ASSERT_NO_FATAL_FAILURE(InstallService());
    ASSERT_TRUE(::StartServiceW(service_.get(), 0, nullptr)) << ::GetLastError();
    ASSERT_EQ(WaitForState(SERVICE_RUNNING).dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    std::this_thread::sleep_for(kReloadWindow);  // its first load done, its watcher armed
    kThirtyTwoBitView.SetNumber(kSettingsPath, L"MainLoopWait", 5000);
    std::this_thread::sleep_for(kReloadWindow);  // a reload, told to nobody
    EXPECT_EQ(WaitForState(SERVICE_RUNNING).dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    const SERVICE_STATUS_PROCESS status = StopService();
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(status.dwWin32ExitCode, 0u);
}

}  // namespace

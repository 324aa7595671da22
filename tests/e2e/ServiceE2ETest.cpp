// The executable as a real service under a real service control manager, in the fresh Wine
// prefix that the test runner made for this program. It is installed the way an administrator
// does it: `vlmmrxsvc.exe -Service`.
#include "E2eSupport.h"

#include <gtest/gtest.h>

namespace {

using namespace e2e;
using std::chrono::milliseconds;

constexpr DWORD kSettingsNotLoaded = 0x80040150;
constexpr auto kStateTimeout = milliseconds(15000);
constexpr auto kStopTimeout = milliseconds(3000);

class ServiceEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        manager_.reset(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        ASSERT_TRUE(manager_) << ::GetLastError();
    }

    void TearDown() override
    {
        service_.reset();
        RemoveEverything();
    }

    void InstallWithTheServiceSwitch()
    {
        ASSERT_EQ(RunByHand(L" -Service"), 0u);
        service_.reset(::OpenServiceW(manager_.get(), kServiceName, SERVICE_ALL_ACCESS));
        ASSERT_TRUE(service_) << "OpenServiceW failed: " << ::GetLastError();
    }

    static void WriteSettingsKey()
    {
        os::UniqueKey settings;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSettingsPath, 0, nullptr, 0,
                                    KEY_WRITE | KEY_WOW64_32KEY, nullptr, settings.put(), nullptr),
                  ERROR_SUCCESS);
    }

    os::UniqueServiceHandle manager_;
    os::UniqueServiceHandle service_;
};

TEST_F(ServiceEndToEnd, WithoutItsSettingsKeyTheServiceStopsWithItsOwnExitCode)
{
    InstallWithTheServiceSwitch();
    ASSERT_TRUE(::StartServiceW(service_.get(), 0, nullptr)) << ::GetLastError();
    const SERVICE_STATUS_PROCESS status = WaitForState(service_.get(), SERVICE_STOPPED,
                                                       kStateTimeout);
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(status.dwWin32ExitCode, kSettingsNotLoaded);
}

TEST_F(ServiceEndToEnd, AfterTheServiceSwitchItRunsWithItsSettingsKeyAndStopsPromptly)
{
    WriteSettingsKey();
    InstallWithTheServiceSwitch();
    ASSERT_TRUE(::StartServiceW(service_.get(), 0, nullptr)) << ::GetLastError();
    SERVICE_STATUS_PROCESS status = WaitForState(service_.get(), SERVICE_RUNNING, kStateTimeout);
    ASSERT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(status.dwControlsAccepted, static_cast<DWORD>(SERVICE_ACCEPT_STOP));
    EXPECT_EQ(status.dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));

    SERVICE_STATUS stopped{};
    ASSERT_TRUE(::ControlService(service_.get(), SERVICE_CONTROL_STOP, &stopped));
    status = WaitForState(service_.get(), SERVICE_STOPPED, kStopTimeout);
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(status.dwWin32ExitCode, 0u);
    // The final report keeps the check point of the last stop-pending report: one per look at
    // the threads and one after them, so at least two.
    EXPECT_GE(status.dwCheckPoint, 2u);
}

TEST_F(ServiceEndToEnd, StartedByHandWithoutTheAppIdKeyItExitsWithTheRegistryError)
{
    EXPECT_EQ(RunByHand(L""), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(ServiceEndToEnd, StartedByHandWhenMarkedAsServiceTheDispatcherFailsAndItExitsZero)
{
    MarkAsService();
    EXPECT_EQ(RunByHand(L""), 0u);
}

}  // namespace

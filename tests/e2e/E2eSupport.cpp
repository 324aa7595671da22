#include "E2eSupport.h"

#include <gtest/gtest.h>

namespace e2e {

constexpr DWORD kProcessTimeoutMs = 30000;

DWORD RunCommand(std::wstring commandLine)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    EXPECT_TRUE(::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                 nullptr, &startup, &info));
    const os::UniqueHandle process(info.hProcess);
    const os::UniqueHandle thread(info.hThread);
    EXPECT_EQ(::WaitForSingleObject(process.get(), kProcessTimeoutMs), WAIT_OBJECT_0);
    ::TerminateProcess(process.get(), 1);  // one that has ended keeps its exit code
    DWORD exitCode = STILL_ACTIVE;
    ::GetExitCodeProcess(process.get(), &exitCode);
    return exitCode;
}

DWORD RunByHand(const std::wstring& arguments)
{
    return RunCommand(L"\"" + Beside(L"vlmmrxsvc.exe") + L"\"" + arguments);
}

os::UniqueServiceHandle OpenOurService(DWORD access)
{
    const os::UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, GENERIC_READ));
    return os::UniqueServiceHandle(::OpenServiceW(manager.get(), kServiceName, access));
}

SERVICE_STATUS WaitForState(SC_HANDLE service, DWORD state, Clock::duration timeout)
{
    SERVICE_STATUS status{};
    WaitUntil(
        [&] { return ::QueryServiceStatus(service, &status) && status.dwCurrentState == state; },
        timeout);
    return status;
}

SERVICE_STATUS Stop(SC_HANDLE service, Clock::duration timeout)
{
    // A service that has not reported a state of its own may not have its control handler yet,
    // and Wine's service manager refuses a second stop while a first is pending (then ends the
    // service by force): wait until it has, then send one stop.
    SERVICE_STATUS status{};
    WaitUntil(
        [&] {
            return !::QueryServiceStatus(service, &status) ||
                   status.dwCurrentState != SERVICE_START_PENDING;
        },
        timeout);
    ::ControlService(service, SERVICE_CONTROL_STOP, &status);
    return WaitForState(service, SERVICE_STOPPED, timeout);
}

RemoveEverythingAtTheEnd::~RemoveEverythingAtTheEnd()
{
    EXPECT_EQ(RunByHand(L" -UnRegServer"), 0u);
}

}  // namespace e2e

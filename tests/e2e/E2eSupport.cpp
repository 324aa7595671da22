#include "E2eSupport.h"

#include <gtest/gtest.h>
#include <oleauto.h>

#include <thread>

namespace e2e {
namespace {

constexpr DWORD kProcessTimeoutMs = 30000;
constexpr auto kPoll = std::chrono::milliseconds(10);
constexpr auto kStopTimeout = std::chrono::milliseconds(15000);
constexpr SYSKIND kSystem = SYS_WIN64;

}  // namespace

std::wstring ServiceExecutable()
{
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring executable(path);
    return executable.substr(0, executable.find_last_of(L'\\') + 1) + L"vlmmrxsvc.exe";
}

DWORD RunByHand(const std::wstring& arguments)
{
    std::wstring commandLine = L"\"" + ServiceExecutable() + L"\"" + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          nullptr, &startup, &info)) {
        ADD_FAILURE() << "CreateProcessW failed: " << ::GetLastError();
        return STILL_ACTIVE;
    }
    os::UniqueHandle process(info.hProcess);
    os::UniqueHandle thread(info.hThread);
    if (::WaitForSingleObject(process.get(), kProcessTimeoutMs) != WAIT_OBJECT_0) {
        ::TerminateProcess(process.get(), 1);
        ADD_FAILURE() << "the process did not end";
    }
    DWORD exitCode = STILL_ACTIVE;
    ::GetExitCodeProcess(process.get(), &exitCode);
    return exitCode;
}

SERVICE_STATUS_PROCESS WaitForState(SC_HANDLE service, DWORD state, Clock::duration timeout)
{
    const auto query = [service] {
        SERVICE_STATUS_PROCESS status{};
        DWORD needed = 0;
        ::QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                               sizeof status, &needed);
        return status;
    };
    const auto deadline = Clock::now() + timeout;
    SERVICE_STATUS_PROCESS status = query();
    while (status.dwCurrentState != state && Clock::now() < deadline) {
        std::this_thread::sleep_for(kPoll);
        status = query();
    }
    return status;
}

std::optional<std::wstring> ClassesText(const wchar_t* path, const wchar_t* name)
{
    wchar_t text[MAX_PATH] = {};
    DWORD bytes = sizeof text;
    if (::RegGetValueW(HKEY_CLASSES_ROOT, path, name, RRF_RT_REG_SZ, nullptr, text, &bytes) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    return std::wstring(text);
}

bool ClassesKeyExists(const wchar_t* path)
{
    os::UniqueKey key;
    return ::RegOpenKeyExW(HKEY_CLASSES_ROOT, path, 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

void RemoveEverything()
{
    const os::UniqueServiceHandle manager(
        ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    const os::UniqueServiceHandle service(
        ::OpenServiceW(manager.get(), kServiceName, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
    if (service) {
        SERVICE_STATUS status{};
        ::ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
        WaitForState(service.get(), SERVICE_STOPPED, kStopTimeout);
        ::DeleteService(service.get());
    }
    ::RegDeleteKeyW(HKEY_CLASSES_ROOT, kAppIdPath);
    ::RegDeleteKeyW(HKEY_CLASSES_ROOT, kExecutableAppIdPath);
    ::UnRegisterTypeLib(kTypeLibraryId, kTypeLibraryMajor, kTypeLibraryMinor, kTypeLibraryLocale,
                        kSystem);
    ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kSettingsPath, KEY_WOW64_32KEY, 0);
}

void MarkAsService()
{
    os::UniqueKey appId;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CLASSES_ROOT, kAppIdPath, 0, nullptr, 0, KEY_WRITE, nullptr,
                                appId.put(), nullptr),
              ERROR_SUCCESS);
    static constexpr wchar_t kName[] = L"vlmmrxsvc";
    ASSERT_EQ(::RegSetValueExW(appId.get(), L"LocalService", 0, REG_SZ,
                               reinterpret_cast<const BYTE*>(kName), sizeof kName),
              ERROR_SUCCESS);
}

}  // namespace e2e

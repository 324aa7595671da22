// The service record and the AppID values that registration writes, and their removal.
#include "service/ServiceModule.h"

#include "platform/EntryPoints.h"
#include "platform/Registry.h"
#include "platform/ResourceString.h"
#include "resources/StringTable.h"

#include <cwchar>
#include <iterator>

namespace {

// Installation errors, written with ReportEventW directly rather than through LogEvent.
constexpr DWORD kManagerOpenFailedEvent = 0xC0000005;
constexpr DWORD kCreateFailedEvent = 0x8000000B;
constexpr DWORD kUninstallEvent = 0;

constexpr const wchar_t* kServiceOpenFailedText =
    L"Uninstall: Couldn't open the Velmora Virtual Memory Optimization service.";
constexpr const wchar_t* kDeleteFailedFormat =
    L"Uninstall: The Velmora Virtual Memory Optimization service could not be deleted. "
    L"Last error = %d.";
constexpr std::size_t kMessageCapacity = 256;

constexpr std::size_t kPathCapacity = 260;
constexpr std::size_t kQuotedPathCapacity = 262;

// A list of names, each terminated, ended by an empty name.
constexpr wchar_t kDependencies[] = L"RPCSS\0";
constexpr DWORD kUninstallAccess = SERVICE_STOP | DELETE;
constexpr DWORD kGenericAccess = GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE;

constexpr wchar_t kLocalServiceName[] = L"vlmmrxsvc";
constexpr wchar_t kServiceParameters[] = L"-Service";

// Recovery: restart two minutes after each of the first two failures, then leave it stopped;
// the failure count starts again after a day without failures.
constexpr DWORD kResetPeriodSeconds = 86400;
constexpr DWORD kRestartDelayMs = 120000;

// The quoted executable path, as the service record's binary path.
void QuotedExecutablePath(wchar_t (&quoted)[kQuotedPathCapacity])
{
    wchar_t path[kPathCapacity] = {};
    ::GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
    std::swprintf(quoted, std::size(quoted), L"\"%ls\"", path);
}

// Looked up at run time so that the executable does not depend on it; null when the system
// lacks it.
decltype(&::ChangeServiceConfig2W) FindChangeServiceConfig2W()
{
    return FindEntryPoint<decltype(&::ChangeServiceConfig2W)>(kAdvapi, "ChangeServiceConfig2W");
}

// The service manager, for installing and removing the service; empty, with the last error, when
// it cannot be opened.
os::UniqueServiceHandle OpenServiceManager()
{
    return os::UniqueServiceHandle(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
}

// The installed test: the service of `name` can be opened to query its configuration.
bool ServiceExists(SC_HANDLE manager, const std::wstring& name)
{
    return static_cast<bool>(
        os::UniqueServiceHandle(::OpenServiceW(manager, name.c_str(), SERVICE_QUERY_CONFIG)));
}

}  // namespace

void CServiceModule::ReportInstallError(DWORD eventId, const wchar_t* text) const
{
    if (!eventSource) {
        return;
    }
    const wchar_t* strings[] = {text};
    ::ReportEventW(eventSource.get(), EVENTLOG_ERROR_TYPE, 0, eventId, nullptr,
                   static_cast<WORD>(std::size(strings)), 0, strings, nullptr);
}

void CServiceModule::ReportInstallErrorCode(DWORD eventId, DWORD error) const
{
    wchar_t decimal[kMessageCapacity] = {};
    std::swprintf(decimal, std::size(decimal), L"" STR_DECIMAL_FORMAT, static_cast<int>(error));
    ReportInstallError(eventId, decimal);
}

bool CServiceModule::Install()
{
    const os::UniqueServiceHandle manager = OpenServiceManager();
    if (!manager) {
        ReportInstallErrorCode(kManagerOpenFailedEvent, ::GetLastError());
        return false;
    }
    if (ServiceExists(manager.get(), serviceName)) {
        return true;
    }
    wchar_t binaryPath[kQuotedPathCapacity] = {};
    QuotedExecutablePath(binaryPath);
    const os::UniqueServiceHandle service(::CreateServiceW(
        manager.get(), serviceName.c_str(), serviceName.c_str(), SERVICE_ALL_ACCESS,
        SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, binaryPath, nullptr,
        nullptr, kDependencies, nullptr, nullptr));
    if (!service) {
        ReportInstallErrorCode(kCreateFailedEvent, ::GetLastError());
        return false;
    }
    return true;
}

bool CServiceModule::Uninstall()
{
    // A manager that cannot be opened shows no service to remove.
    const os::UniqueServiceHandle manager = OpenServiceManager();
    if (!manager || !ServiceExists(manager.get(), serviceName)) {
        return true;
    }
    os::UniqueServiceHandle service(
        ::OpenServiceW(manager.get(), serviceName.c_str(), kUninstallAccess));
    if (!service) {
        ReportInstallError(kUninstallEvent, kServiceOpenFailedText);
        return false;
    }
    // Not waited for: a service still stopping is only marked for deletion and goes when it
    // has stopped.
    SERVICE_STATUS status{};
    ::ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    const bool deleted = ::DeleteService(service.get()) != FALSE;
    const DWORD error = ::GetLastError();
    service.reset();
    if (deleted) {
        return true;
    }
    wchar_t message[kMessageCapacity] = {};
    std::swprintf(message, std::size(message), kDeleteFailedFormat, static_cast<int>(error));
    ReportInstallError(kUninstallEvent, message);
    return false;
}

void CServiceModule::ConfigureService() const
{
    const auto changeConfig = FindChangeServiceConfig2W();
    if (platform.osVersion5OrLater == FALSE || changeConfig == nullptr) {
        return;
    }
    const os::UniqueServiceHandle manager(
        ::OpenSCManagerW(nullptr, nullptr, kGenericAccess | SC_MANAGER_ALL_ACCESS));
    const os::UniqueServiceHandle service(
        ::OpenServiceW(manager.get(), serviceName.c_str(), kGenericAccess | SERVICE_ALL_ACCESS));
    const os::UniqueServiceLock lock(::LockServiceDatabase(manager.get()));

    std::wstring text = LoadResourceString(IDS_SERVICE_DESCRIPTION);
    SERVICE_DESCRIPTIONW description{text.data()};
    changeConfig(service.get(), SERVICE_CONFIG_DESCRIPTION, &description);

    SC_ACTION actions[] = {{SC_ACTION_RESTART, kRestartDelayMs},
                           {SC_ACTION_RESTART, kRestartDelayMs},
                           {SC_ACTION_NONE, 0}};
    SERVICE_FAILURE_ACTIONSW recovery{kResetPeriodSeconds, nullptr, nullptr,
                                      static_cast<DWORD>(std::size(actions)), actions};
    changeConfig(service.get(), SERVICE_CONFIG_FAILURE_ACTIONS, &recovery);
}

LSTATUS CServiceModule::RegisterAppIdValues(BOOL asService)
{
    os::UniqueKey appId;
    const LSTATUS opened = OpenAppIdKey(KEY_WRITE, appId);
    if (opened != ERROR_SUCCESS) {
        return opened;
    }
    // Absent after every registration but the service's, so that a plain start stays no service.
    ::RegDeleteValueW(appId.get(), kLocalServiceValue);
    if (asService != FALSE) {
        // Not looked at, as the removal above: a key just opened for writing takes values.
        static_cast<void>(SetTextValue(appId.get(), kLocalServiceValue, kLocalServiceName));
        static_cast<void>(SetTextValue(appId.get(), kServiceParametersValue, kServiceParameters));
        static_cast<void>(Install());  // a failure is in the event log
        ConfigureService();
    }
    return ERROR_SUCCESS;
}

#include "service/ServiceModule.h"

#include "resources/StringTable.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

CServiceModule* g_module = nullptr;

// {273EEBCE-BBFB-4E37-A725-C029D70B671E}
constexpr GUID kTypeLibraryId = {
    0x273EEBCE, 0xBBFB, 0x4E37, {0xA7, 0x25, 0xC0, 0x29, 0xD7, 0x0B, 0x67, 0x1E}};

constexpr DWORD kMinimumMajorVersion = 5;
constexpr DWORD kMarkerCapacity = 260;  // characters

// "LocalService" counts when it is text that is empty or ends in its terminator.
bool IsValidMarker(LSTATUS result, DWORD type, const wchar_t* data, DWORD bytes)
{
    if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return false;
    }
    if (bytes == 0) {
        return true;
    }
    return bytes % sizeof(wchar_t) == 0 && data[bytes / sizeof(wchar_t) - 1] == L'\0';
}

}  // namespace

CPlatform::CPlatform()
{
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (os::Kernel().GetVersionExW(&version) != FALSE) {
        osVersion5OrLater = version.dwPlatformId == VER_PLATFORM_WIN32_NT &&
                            version.dwMajorVersion >= kMinimumMajorVersion;
    }
}

CServiceModule::CServiceModule()
{
    if (g_module != nullptr) {
        std::fputs("vlmmrxsvc: a second service module was constructed\n", stderr);
        std::abort();
    }
    g_module = this;
}

CServiceModule::~CServiceModule() { g_module = nullptr; }

CServiceModule& Module()
{
    if (g_module == nullptr) {
        std::fputs("vlmmrxsvc: the service module is used outside its lifetime\n", stderr);
        std::abort();
    }
    return *g_module;
}

LONG CServiceModule::Unlock()
{
    const LONG remaining = CComServerModule::Unlock();
    if (remaining == 0 && isService == FALSE) {
        os::Kernel().PostThreadMessageW(threadId, WM_QUIT, 0, 0);
    }
    return remaining;
}

void CServiceModule::InitModule(HINSTANCE)
{
    SetTypeLibraryId(kTypeLibraryId);
    isService = TRUE;
    os::Resources().LoadStringW(IDS_SERVICE_NAME, serviceName, kNameCapacity);

    statusHandle = nullptr;
    status = SERVICE_STATUS{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = SERVICE_STOPPED;
    status.dwControlsAccepted = SERVICE_ACCEPT_STOP;

    // Opened in every mode, so that the registration switches can report their failures too.
    eventSource.reset(os::EventLog().RegisterEventSourceW(nullptr, serviceName));
    os::Resources().LoadStringW(IDS_UNKNOWN_NAME, unknownName, kNameCapacity);
}

void CServiceModule::LogEvent(WORD type, DWORD eventId, const wchar_t* first,
                              const wchar_t* second, const wchar_t* third) const
{
    const wchar_t* strings[] = {first, second, third};
    WORD count = 0;
    for (const wchar_t* text : strings) {
        count += text != nullptr ? 1 : 0;
    }
    // Only errors reach the log; warnings and information are for a debugger at most.
    if (!eventSource || type != EVENTLOG_ERROR_TYPE) {
        return;
    }
    os::EventLog().ReportEventW(eventSource.get(), type, 0, eventId, count, strings);
}

void CServiceModule::ReportError(const wchar_t* operation, DWORD error) const
{
    // An error entry, so that it reaches the log: the watcher gives up on such a failure, and
    // the settings then stay as last loaded until the service restarts.
    const std::wstring code = std::to_wstring(error);
    LogEvent(EVENTLOG_ERROR_TYPE, kRegistryWatchFailedEvent, operation, code.c_str());
}

LSTATUS ReadServiceMarker(BOOL& marked)
{
    os::UniqueKey appIds;
    LSTATUS result = os::Registry().RegOpenKeyExW(HKEY_CLASSES_ROOT, kAppIdKey, 0, KEY_READ,
                                                  appIds.put());
    if (result != ERROR_SUCCESS) {
        return result;
    }
    os::UniqueKey appId;
    result = os::Registry().RegOpenKeyExW(appIds.get(), kAppId, 0, KEY_READ, appId.put());
    if (result != ERROR_SUCCESS) {
        return result;
    }
    wchar_t marker[kMarkerCapacity] = {};
    DWORD type = REG_NONE;
    DWORD bytes = sizeof marker;
    result = os::Registry().RegQueryValueExW(appId.get(), kLocalServiceValue, &type,
                                             reinterpret_cast<BYTE*>(marker), &bytes);
    marked = IsValidMarker(result, type, marker, bytes) ? TRUE : FALSE;
    return ERROR_SUCCESS;
}

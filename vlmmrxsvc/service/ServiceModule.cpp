#include "service/ServiceModule.h"

#include "resources/StringTable.h"
#include "service/ServiceMarker.h"

#include <cstdio>
#include <span>
#include <cstdlib>
#include <string>

namespace {

CServiceModule* g_module = nullptr;

// {273EEBCE-BBFB-4E37-A725-C029D70B671E}
constexpr GUID kTypeLibraryId = {
    0x273EEBCE, 0xBBFB, 0x4E37, {0xA7, 0x25, 0xC0, 0x29, 0xD7, 0x0B, 0x67, 0x1E}};

constexpr DWORD kMinimumMajorVersion = 5;
constexpr DWORD kMarkerCapacity = 260;  // characters

static_assert(kMarkerTextType == REG_SZ && kMarkerExpandableTextType == REG_EXPAND_SZ);

// LoadStringW into a fixed buffer of the module.
template <std::size_t Capacity>
void LoadName(UINT id, WCHAR (&buffer)[Capacity])
{
    ::LoadStringW(::GetModuleHandleW(nullptr), id, buffer, static_cast<int>(Capacity));
}

}  // namespace

CPlatform::CPlatform()
{
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
#ifdef _MSC_VER
#pragma warning(suppress : 4996)  // deprecated, but it is the call whose answer we want
#endif
    if (::GetVersionExW(&version) != FALSE) {
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
        ::PostThreadMessageW(threadId, WM_QUIT, 0, 0);
    }
    return remaining;
}

void CServiceModule::InitModule(HINSTANCE)
{
    SetTypeLibraryId(kTypeLibraryId);
    isService = TRUE;
    LoadName(IDS_SERVICE_NAME, serviceName);

    statusHandle = nullptr;
    status = SERVICE_STATUS{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = SERVICE_STOPPED;
    status.dwControlsAccepted = SERVICE_ACCEPT_STOP;

    // Opened in every mode, so that the registration switches can report their failures too.
    eventSource.reset(::RegisterEventSourceW(nullptr, serviceName));
    LoadName(IDS_UNKNOWN_NAME, unknownName);
}

void CServiceModule::LogEvent(WORD type, DWORD eventId, const wchar_t* first,
                              const wchar_t* second, const wchar_t* third) const
{
    // The strings given, in order, without the absent ones: the log takes `count` strings from the
    // front of the array.
    const wchar_t* strings[] = {first, second, third};
    WORD count = 0;
    for (const wchar_t* text : {first, second, third}) {
        if (text != nullptr) {
            strings[count++] = text;
        }
    }
    // Only errors reach the log; warnings and information are for a debugger at most.
    if (!eventSource || type != EVENTLOG_ERROR_TYPE) {
        return;
    }
    ::ReportEventW(eventSource.get(), type, 0, eventId, nullptr, count, 0, strings, nullptr);
}

void CServiceModule::ReportError(const wchar_t* operation, DWORD error) const
{
    // An error entry, so that it reaches the log: the watcher gives up on such a failure, and
    // the settings then stay as last loaded until the service restarts.
    const std::wstring code = std::to_wstring(error);
    LogEvent(EVENTLOG_ERROR_TYPE, kRegistryWatchFailedEvent, operation, code.c_str());
}

LSTATUS OpenAppIdKey(REGSAM access, os::UniqueKey& appId)
{
    os::UniqueKey appIds;
    const LSTATUS result = ::RegOpenKeyExW(HKEY_CLASSES_ROOT, kAppIdKey, 0, access, appIds.put());
    if (result != ERROR_SUCCESS) {
        return result;
    }
    return ::RegOpenKeyExW(appIds.get(), kAppId, 0, access, appId.put());
}

LSTATUS ReadServiceMarker(BOOL& marked)
{
    os::UniqueKey appId;
    const LSTATUS opened = OpenAppIdKey(KEY_READ, appId);
    if (opened != ERROR_SUCCESS) {
        return opened;
    }
    BYTE marker[kMarkerCapacity * sizeof(wchar_t)] = {};
    DWORD type = REG_NONE;
    DWORD bytes = sizeof marker;
    const bool read = ::RegQueryValueExW(appId.get(), kLocalServiceValue, nullptr, &type, marker,
                                         &bytes) == ERROR_SUCCESS;
    marked = read && IsValidServiceMarker(type, std::span<const std::uint8_t>(marker, bytes))
                 ? TRUE
                 : FALSE;
    return ERROR_SUCCESS;
}

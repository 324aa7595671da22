#include "service/ServiceModule.h"

#include "platform/Registry.h"
#include "platform/ResourceString.h"
#include "resources/StringTable.h"

#include <cstdio>
#include <cstdlib>

namespace {

CServiceModule* g_module = nullptr;

constexpr DWORD kMinimumMajorVersion = 5;
constexpr std::size_t kMarkerBytes = 260 * sizeof(wchar_t);

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

void CServiceModule::InitModule(HINSTANCE)
{
    isService = TRUE;
    serviceName = LoadResourceString(IDS_SERVICE_NAME);

    statusHandle = nullptr;
    status = SERVICE_STATUS{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = SERVICE_STOPPED;
    status.dwControlsAccepted = SERVICE_ACCEPT_STOP;

    // Opened in every mode, so that the registration switches can report their failures too.
    eventSource.reset(::RegisterEventSourceW(nullptr, serviceName.c_str()));
    unknownName = LoadResourceString(IDS_UNKNOWN_NAME);

    workerContext_.log = EventLogWriter();
    workerContext_.discovery = {EventLogWriter(), unknownName};
    workerContext_.settings = [this] {
        return GateSettings{settings.MainLoopWait.load(), settings.VMThreshold.load(),
                            settings.VMInactiveTime.load()};
    };
    workerContext_.levelOf = [this](std::wstring_view imagePath) {
        return exclusionLists.ProcessLevel(imagePath);
    };
    workerContext_.startReplacement = [this] { return StartWorker(); };
    watcherContext_.log = EventLogWriter();
    // A key that went away leaves the settings as they were; the watcher's next arming tells.
    watcherContext_.reload = [this] { static_cast<void>(LoadSettings()); };
}

EventLog CServiceModule::EventLogWriter() const
{
    return EventLog([this](WORD type, DWORD eventId, std::span<const wchar_t* const> strings) {
        const auto at = [&strings](std::size_t index) {
            return index < strings.size() ? strings[index] : nullptr;
        };
        LogEvent(type, eventId, at(0), at(1), at(2));
    });
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

LSTATUS OpenAppIdKey(REGSAM access, os::UniqueKey& appId)
{
    os::UniqueKey appIds;
    const LSTATUS result = OpenRegistryKey(HKEY_CLASSES_ROOT, kAppIdKey, access, appIds);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    return OpenRegistryKey(appIds.get(), kAppId, access, appId);
}

LSTATUS ReadServiceMarker(BOOL& marked)
{
    os::UniqueKey appId;
    const LSTATUS opened = OpenAppIdKey(KEY_READ, appId);
    if (opened != ERROR_SUCCESS) {
        return opened;
    }
    RegistryValue marker;
    marked = QueryValue(appId.get(), kLocalServiceValue, kMarkerBytes, marker) == ERROR_SUCCESS &&
                     IsTerminatedText(marker.type, marker.data)
                 ? TRUE
                 : FALSE;
    return ERROR_SUCCESS;
}

#include "worker/RegistryWatcher.h"

#include "resources/StringTable.h"
#include "service/ServiceModule.h"
#include "service/StopEvent.h"
#include "service/Waits.h"
#include "worker/WorkerThreads.h"

namespace {

constexpr int kKeyCapacity = 127;
// KEY_READ includes KEY_NOTIFY; the settings loader reads the same 32-bit view.
constexpr REGSAM kWatchAccess = KEY_READ | KEY_WOW64_32KEY;
constexpr DWORD kWatchedChanges = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_ATTRIBUTES |
                                  REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_SECURITY;
constexpr DWORD kChangeSignalled = WAIT_OBJECT_0;
constexpr DWORD kStopSignalled = WAIT_OBJECT_0 + 1;

bool Arm(const RegistryChangeWatch& watch, HANDLE event)
{
    const LSTATUS status = os::Registry().RegNotifyChangeKeyValue(
        watch.key, watch.watchSubtree, watch.filter, event, TRUE);
    if (status != ERROR_SUCCESS) {
        os::Errors().SetLastError(static_cast<DWORD>(status));
        return false;
    }
    return true;
}

// One pass after another: arm on a fresh event, wait for a change or the stop, reload at most
// once. A change made while a reload runs is seen by the next arming only if it comes after it.
void WatchUntilStopped(CServiceModule& module, const RegistryChangeWatch& watch,
                       HANDLE stopEvent)
{
    os::UniqueHandle change;
    for (bool running = true; running;) {
        change.reset();
        change = RegFindFirstChange(watch);
        if (!change) {
            module.ReportError(L"RegFindFirstChange()", os::Errors().GetLastError());
            return;
        }
        if (!RegFindNextChange(change.get(), watch)) {
            module.ReportError(L"RegFindNextChange()", os::Errors().GetLastError());
            return;
        }
        const HANDLE handles[] = {change.get(), stopEvent};
        switch (WaitWithMessagePump(2, handles, INFINITE)) {
        case kChangeSignalled:
            // A key that went away leaves the settings as they were; the next arming tells.
            static_cast<void>(module.LoadSettings());
            break;
        case kStopSignalled:
            running = false;
            break;
        default:
            break;
        }
    }
}

}  // namespace

os::UniqueHandle RegFindFirstChange(const RegistryChangeWatch& watch)
{
    os::UniqueHandle event(os::Kernel().CreateEventW(TRUE, FALSE, nullptr));
    if (!event || !Arm(watch, event.get())) {
        return {};
    }
    if (os::Kernel().WaitForSingleObject(event.get(), 0) == WAIT_OBJECT_0 &&
        !Arm(watch, event.get())) {
        return {};
    }
    return event;
}

bool RegFindNextChange(HANDLE event, const RegistryChangeWatch& watch)
{
    return os::Kernel().ResetEvent(event) != FALSE && Arm(watch, event);
}

unsigned WINAPI RegistryWatchThreadProc(void*)
{
    CServiceModule& module = Module();
    wchar_t keyPath[kKeyCapacity] = {};
    os::Resources().LoadStringW(IDS_SERVICE_KEY, keyPath, kKeyCapacity);
    os::UniqueKey key;
    const LSTATUS opened =
        os::Registry().RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, kWatchAccess, key.put());
    if (opened != ERROR_SUCCESS) {
        module.ReportError(L"RegOpenKeyEx()", static_cast<DWORD>(opened));
        return static_cast<unsigned>(opened);
    }
    // Without the stop event the watcher could only be ended by force: it gives up at once.
    const os::UniqueHandle stopEvent = OpenStopEvent();
    if (!stopEvent) {
        const DWORD error = os::Errors().GetLastError();
        module.ReportError(L"OpenEvent()", error);
        return error;
    }
    WatchUntilStopped(module, {key.get(), TRUE, kWatchedChanges}, stopEvent.get());
    return 0;
}

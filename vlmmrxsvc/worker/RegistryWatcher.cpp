#include "worker/RegistryWatcher.h"

#include "platform/Registry.h"
#include "platform/Waits.h"
#include "settings/SettingsLoader.h"

#include <string>

namespace {

constexpr DWORD kWatchedChanges = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_ATTRIBUTES |
                                  REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_SECURITY;
constexpr DWORD kChangeSignalled = WAIT_OBJECT_0;
constexpr DWORD kStopSignalled = WAIT_OBJECT_0 + 1;
// After a wait that failed, the next pass comes no sooner than this.
constexpr DWORD kFailedWaitPauseMs = 1000;

bool Arm(const RegistryChangeWatch& watch, HANDLE event)
{
    const LSTATUS status =
        ::RegNotifyChangeKeyValue(watch.key, watch.watchSubtree, watch.filter, event, TRUE);
    if (status != ERROR_SUCCESS) {
        ::SetLastError(static_cast<DWORD>(status));
        return false;
    }
    return true;
}

// A wait that fails would fail again at once: pause before the next pass instead of spinning,
// ending the pause early on the stop. True when the stop was seen.
bool PauseAfterFailedWait(HANDLE stopEvent)
{
    const DWORD result = ::WaitForSingleObject(stopEvent, kFailedWaitPauseMs);
    if (result == WAIT_FAILED) {
        ::Sleep(kFailedWaitPauseMs);
    }
    return result == WAIT_OBJECT_0;
}

// The watcher gives up on such a failure, and the settings then stay as last loaded until the
// service restarts: an error entry, so that it reaches the log.
void ReportFailure(const EventLog& log, const wchar_t* operation, DWORD error)
{
    const std::wstring code = std::to_wstring(error);
    log.Write(EVENTLOG_ERROR_TYPE, kRegistryWatchFailedEvent, {operation, code.c_str()});
}

// One pass after another: arm on a fresh event, wait for a change or the stop, reload at most
// once. Each pass arms the notification twice on its event (RegFindFirstChange, then
// RegFindNextChange): both armings signal the same event, so the second costs nothing and leaves
// no change unseen. A change made while a reload runs is seen by the next arming only if it
// comes after it.
void WatchUntilStopped(const RegistryWatcherContext& context, const RegistryChangeWatch& watch,
                       HANDLE stopEvent)
{
    os::UniqueHandle change;
    for (bool running = true; running;) {
        change.reset();
        change = RegFindFirstChange(watch);
        if (!change) {
            ReportFailure(context.log, L"RegFindFirstChange()", ::GetLastError());
            return;
        }
        if (!RegFindNextChange(change.get(), watch)) {
            ReportFailure(context.log, L"RegFindNextChange()", ::GetLastError());
            return;
        }
        const HANDLE handles[] = {change.get(), stopEvent};
        switch (WaitWithMessagePump(2, handles, INFINITE)) {
        case kChangeSignalled:
            // A key that went away leaves the settings as they were; the next arming tells.
            context.reload();
            break;
        case kStopSignalled:
            running = false;
            break;
        default:
            running = !PauseAfterFailedWait(stopEvent);
            break;
        }
    }
}

}  // namespace

os::UniqueHandle RegFindFirstChange(const RegistryChangeWatch& watch)
{
    os::UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event || !Arm(watch, event.get())) {
        return {};
    }
    if (::WaitForSingleObject(event.get(), 0) == WAIT_OBJECT_0 && !Arm(watch, event.get())) {
        return {};
    }
    return event;
}

bool RegFindNextChange(HANDLE event, const RegistryChangeWatch& watch)
{
    return ::ResetEvent(event) != FALSE && Arm(watch, event);
}

unsigned WINAPI RegistryWatchThreadProc(void* context)
{
    const auto& watcher = *static_cast<const RegistryWatcherContext*>(context);
    os::UniqueKey key;
    const LSTATUS opened =
        OpenRegistryKey(HKEY_LOCAL_MACHINE, ServiceKeyPath(), kSettingsWatchAccess, key);
    if (opened != ERROR_SUCCESS) {
        ReportFailure(watcher.log, L"RegOpenKeyEx()", static_cast<DWORD>(opened));
        return static_cast<unsigned>(opened);
    }
    // Without the stop event the watcher could only be ended by force: it gives up at once.
    const os::UniqueHandle stopEvent = OpenStopEvent();
    if (!stopEvent) {
        const DWORD error = ::GetLastError();
        ReportFailure(watcher.log, L"OpenEvent()", error);
        return error;
    }
    WatchUntilStopped(watcher, {key.get(), TRUE, kWatchedChanges}, stopEvent.get());
    return 0;
}

// The registry change watcher: reloads the settings whenever anything below the service key
// changes, on a thread of its own that runs until the stop event is signalled.
#pragma once

#include "platform/EventLog.h"
#include "platform/UniqueResource.h"

#include <functional>

// The error entry written when the watcher gives up: the operation that failed, and its error.
inline constexpr DWORD kRegistryWatchFailedEvent = 0xC0000010;

// What the service hands the watcher thread; it must outlive the thread.
struct RegistryWatcherContext {
    EventLog log;                  // where the watcher reports why it gave up
    std::function<void()> reload;  // loads the settings again after a change
};

// What to watch: a key, whether the keys below it count, and which changes (REG_NOTIFY_CHANGE_*).
struct RegistryChangeWatch {
    HKEY key = nullptr;
    BOOL watchSubtree = FALSE;
    DWORD filter = 0;
};

// Creates an unnamed manual-reset event and arms a one-shot notification of `watch` on it; arms
// once more when the event is signalled at once. Empty on failure, with the last error set to the
// failing call's error (the registry status when arming failed).
[[nodiscard]] os::UniqueHandle RegFindFirstChange(const RegistryChangeWatch& watch);

// Resets `event` and arms the notification of `watch` on it again. False on failure, with the
// last error set to the failing call's error (the registry status when arming failed).
[[nodiscard]] bool RegFindNextChange(HANDLE event, const RegistryChangeWatch& watch);

// The watcher thread; `context` is a RegistryWatcherContext. Watches the service key (32-bit
// view, the whole subtree) and reloads after each change until the stop event is signalled.
// Returns 0 after an orderly end, or, after an error entry, the error that kept it from starting:
// the registry's when the service key cannot be opened, the system's when the stop event cannot
// be opened. A failure to arm the notification later also ends it with an error entry.
unsigned WINAPI RegistryWatchThreadProc(void* context);

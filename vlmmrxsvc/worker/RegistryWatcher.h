// The registry change watcher: reloads the settings whenever anything below the service key
// changes. Its thread procedure, RegistryWatchThreadProc, is declared in WorkerThreads.h.
#pragma once

#include "platform/UniqueResource.h"

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

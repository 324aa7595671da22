// The thread procedures that the service thread starts.
#pragma once

#include "platform/Windows.h"

// The optimisation worker (Worker.cpp). Returns 0 after an orderly end, 1 after a failed run,
// once it has started the replacement.
unsigned WINAPI WorkerThreadProc(void* unused);
// The registry change watcher (RegistryWatcher.cpp). Returns 0 after an orderly end, or the error
// that kept it from starting: the registry's when the service key cannot be opened, the system's
// when the stop event cannot be opened.
unsigned WINAPI RegistryWatchThreadProc(void* unused);

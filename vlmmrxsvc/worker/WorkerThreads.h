// The thread procedures that the service thread starts.
#pragma once

#include "platform/WinTypes.h"

// The optimisation worker. Returns 0 after an orderly end.
unsigned WINAPI WorkerThreadProc(void* unused);
// The registry change watcher. Returns 0 after an orderly end.
unsigned WINAPI RegistryWatchThreadProc(void* unused);

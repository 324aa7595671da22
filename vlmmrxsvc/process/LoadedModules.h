// The modules of another process, read from its loader's records in one pass.
#pragma once

#include "platform/Windows.h"
#include "process/LoaderRecords.h"

// The process's modules in load order (ReadLoaderList), read from its memory: the list that the
// process-status calls give, read once where those calls walk it again for every answer.
// `process` needs query-information and memory-read rights. Empty when the process's memory
// cannot be read (it is starting or has ended).
[[nodiscard]] std::vector<LoadedModule> ReadLoadedModules(HANDLE process);

// The modules of another process, read from its loader's records in one pass.
#pragma once

#include "platform/WinTypes.h"

#include <string>
#include <vector>

struct LoadedModule {
    ULONGLONG base = 0;  // load address, also the module handle
    DWORD size = 0;      // SizeOfImage as the loader recorded it
    // Full path of the module's file; empty when the name could not be read or is
    // kImagePathCharacters characters or longer.
    std::wstring path;
};

// The process's modules in load order, the main executable first: the list, addresses, sizes
// and names that EnumProcessModules, GetModuleInformation and GetModuleFileNameExW give, read in
// one pass where those calls walk the list again for every answer. `process` needs query-
// information and memory-read rights. Empty when the process's memory cannot be read (it is
// starting or has ended); a list that changes while it is read ends at the first record that
// cannot be read.
std::vector<LoadedModule> ReadLoadedModules(HANDLE process);

// Exclusion lists: optimisation levels that an administrator attaches to programs by file name.
//
// A level is an unsigned 32-bit number: 0 leaves a process alone, any other value has its
// relocated components recorded, and the bit of value 2 also records the process's own image.
#pragma once

#include "platform/WinTypes.h"

#include <string>
#include <vector>

// What `ExclusionList::kind` says about a list.
inline constexpr DWORD kComponentList = 0;
inline constexpr DWORD kProcessList = 1;
inline constexpr DWORD kListNotLoaded = 0xFFFFFFFF;

struct ExclusionEntry {
    std::wstring name;  // upper-case file name, no directory
    DWORD level = 0;
};

// One list as last loaded from the registry. A plain value: whoever shares one between threads
// guards it (the service module swaps in a list built aside, under its lock).
struct ExclusionList {
    std::vector<ExclusionEntry> entries;  // unique names, in the registry's enumeration order
    DWORD defaultComponentLevel = 0;      // "DefaultComponentOptimizationLevel" at the last load
    DWORD defaultProcessLevel = 0;        // "DefaultProcessOptimizationLevel" at the last load
    DWORD kind = kListNotLoaded;
};

// Rebuilds `list` from the list key `keyPath` (below HKEY_LOCAL_MACHINE, 32-bit view), as the
// component list (isProcessList 0) or the process list (1). Both default levels are re-read from
// the service key first; one that cannot be read keeps its value. The entries always start
// empty. Each value of the list key is one entry named by the file-name part of the value's name:
// a REG_SZ value takes the list's default level, any other type its data, which must be exactly
// 4 bytes (an entry whose data is of another size or cannot be read is skipped); of two values
// naming the same file the first enumerated wins. Returns false when the list key cannot be
// opened (the list is then empty), else true.
[[nodiscard]] bool LoadExclusionList(ExclusionList& list, const wchar_t* keyPath,
                                     DWORD isProcessList);

// The level of the program at `path`, looked up by its file name without regard to case or
// directory; `defaultProcessLevel` when the file name is not listed.
[[nodiscard]] DWORD GetOptimizationLevel(const ExclusionList& list, const wchar_t* path);

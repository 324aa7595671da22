// Loading an exclusion list from its registry key.
#pragma once

#include "image/ExclusionList.h"
#include "platform/Windows.h"

// Rebuilds `list` from the list key `keyPath` (below HKEY_LOCAL_MACHINE, 32-bit view), as the
// component list (isProcessList 0) or the process list (1). Both default levels are re-read from
// the open service key `serviceKey` first; one that cannot be read (or a null `serviceKey`) keeps
// its value. The entries always start empty; each value of the list key is one entry
// (AddExclusionEntry). Returns false when the list key cannot be opened (the list is then
// empty), else true.
[[nodiscard]] bool LoadExclusionList(ExclusionList& list, HKEY serviceKey, const wchar_t* keyPath,
                                     std::uint32_t isProcessList);

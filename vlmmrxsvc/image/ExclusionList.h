// Exclusion lists: optimisation levels that an administrator attaches to programs by file name,
// built from the values of a registry key, and the pair of lists that the service shares between
// the thread that reloads them and the worker that looks processes up.
//
// A level is an unsigned 32-bit number: 0 leaves a process alone, any other value has its
// relocated components recorded, and the bit of value 2 also records the process's own image.
#pragma once

#include "platform/RegistryData.h"

#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// What `ExclusionList::kind` says about a list.
inline constexpr std::uint32_t kComponentList = 0;
inline constexpr std::uint32_t kProcessList = 1;
inline constexpr std::uint32_t kListNotLoaded = 0xFFFFFFFF;

struct ExclusionEntry {
    std::wstring name;  // upper-case file name, no directory
    std::uint32_t level = 0;
};

// One list as last loaded from the registry. A plain value: whoever shares one between threads
// guards it (ExclusionLists below).
struct ExclusionList {
    std::vector<ExclusionEntry> entries;  // unique names, in the registry's enumeration order
    // "DefaultComponentOptimizationLevel" and "DefaultProcessOptimizationLevel" at the last load.
    std::uint32_t defaultComponentLevel = 0;
    std::uint32_t defaultProcessLevel = 0;
    std::uint32_t kind = kListNotLoaded;
};

// A list to load afresh from `current`: no entries and the same kind, but the default levels of
// `current`, which a load keeps when it cannot read them.
[[nodiscard]] ExclusionList FreshListFrom(const ExclusionList& current);

// Adds the entry that one value of a list key stands for: named by the file-name part of
// `valueName`, upper-cased; a text value (kRegistryTextType) takes the list's default level
// whatever `data` holds, any other type its `data`, which must be exactly 4 bytes (little-endian)
// or the value is no entry. Of two values naming the same file the first added wins. True when the
// entry was added; a value dropped for want of memory gives false and leaves the list whole.
bool AddExclusionEntry(ExclusionList& list, std::wstring_view valueName, std::uint32_t type,
                       std::span<const std::uint8_t> data);

// The level of the program at `path`, looked up by its file name without regard to case or
// directory; `defaultProcessLevel` when the file name is not listed.
[[nodiscard]] std::uint32_t GetOptimizationLevel(const ExclusionList& list, std::wstring_view path);

// The process and component lists of the service. A reload builds new lists aside and replaces
// both in one step under the lock, so that a lookup on another thread sees the old lists or the
// new ones, never one half built; the old lists are freed after the lock is released.
class ExclusionLists {
public:
    // Copies of the lists with their entries dropped and their default levels kept (FreshListFrom),
    // for a reload to fill.
    void FreshCopies(ExclusionList& components, ExclusionList& processes) const;
    // Replaces both lists with `components` and `processes`, which receive the old ones.
    void Replace(ExclusionList& components, ExclusionList& processes);
    // GetOptimizationLevel in the process list as of the last completed Replace.
    [[nodiscard]] std::uint32_t ProcessLevel(std::wstring_view imagePath) const;
    // A copy of the component list as of the last completed Replace.
    [[nodiscard]] ExclusionList Components() const;

private:
    mutable std::mutex lock_;
    ExclusionList processExclusions_;
    ExclusionList componentExclusions_;
};

// The worker's memory of what the repair-pending file already holds and what it has recorded
// since: which component paths are known (without regard to case), and which keys the entries
// were added under (compared exactly). An entry made by loading is keyed by its record's
// upper-cased component path (a component record) or process path (a process record); an entry
// the worker adds for a component it records is keyed by the image path of the process it was
// seen in, and one for a process record by that path.
//
// Look-ups by key and by component path take constant time, and an entry costs a map node and
// its text rather than a whole record: a text that is both a key and a component path (as every
// loaded component record's is) is held once.
#pragma once

#include "image/RepairRecord.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

// Whether a file exists, asked with the path as it was written (the file system compares without
// regard to case, and is much faster asked in the case the path has on disk).
using PathExists = std::function<bool(const std::wstring& path)>;

class KnownComponents {
public:
    // Whether an entry's component path equals `componentPath`, ignoring case.
    [[nodiscard]] bool IsKnownComponent(std::wstring_view componentPath) const;
    // Whether an entry was added under exactly `key`.
    [[nodiscard]] bool HasKey(std::wstring_view key) const;

    // The entry for a component the worker records, keyed by the process's image path. False
    // when there was no memory for it: the component is then not remembered.
    bool AddComponent(std::wstring_view processPath, std::wstring_view componentPath,
                      std::uint64_t loadBase);
    // The entry for a process record, keyed by the process's image path.
    bool AddProcess(std::wstring_view processPath);

    // Applies the loading rules to one record read from the file, and returns whether it passed
    // them (whether or not there was memory to keep it). The texts are compared upper-cased;
    // `exists` is asked with them as written. A record that names a pipe in its component or
    // process path is dropped; a component record whose file is gone is dropped, one already
    // known at the same load address is dropped, one known at another address replaces that
    // entry; a process record whose image is gone or whose path is already a key is dropped.
    [[nodiscard]] bool Load(const RepairRecord& record, const PathExists& exists);

    // Entries held.
    [[nodiscard]] std::size_t Count() const { return entries_; }

private:
    // One text, with what the entries say about it.
    struct Slot {
        std::uint32_t keyedEntries = 0;      // entries added under this text as their key
        std::uint32_t componentEntries = 0;  // entries whose upper-cased component path it is
        std::uint64_t keyedLoadBase = 0;     // of the first entry keyed so
        const std::wstring* keyedComponent = nullptr;  // that entry's component path (a map key)
    };

    bool Add(std::wstring_view key, const std::wstring& upperComponentPath, std::uint64_t loadBase);
    void RemoveKeyed(const std::wstring& key);
    void EraseIfUnused(const std::wstring& text);

    std::unordered_map<std::wstring, Slot> slots_;
    std::size_t entries_ = 0;
};

// The list of loaded modules that a 64-bit process's loader keeps, decoded from the process's
// memory through a reader, so that the walk is the same whether the memory is another process's
// or a test's bytes; and the rule by which discovery counts a module as relocated.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

// Where a 64-bit process's loader keeps its list of loaded modules, as the process-status calls
// read it from outside: the process environment block points to the loader's data, whose
// load-order list links one record per module, the main executable first. These offsets are
// those of every 64-bit Windows; a name is UTF-16 there.
namespace loader {

inline constexpr std::uint32_t kProcessBasicInformation = 0;  // NtQueryInformationProcess class

inline constexpr std::size_t kPebLdr = 0x18;               // pointer to the loader's data
inline constexpr std::size_t kLdrInLoadOrderList = 0x10;   // list head: forward, backward link
inline constexpr std::size_t kEntryInLoadOrderLinks = 0x00;  // forward link to the next record
inline constexpr std::size_t kEntryDllBase = 0x30;
inline constexpr std::size_t kEntrySizeOfImage = 0x40;     // 32-bit
inline constexpr std::size_t kEntryFullDllName = 0x48;     // Length (bytes, 16-bit), then...
inline constexpr std::size_t kEntryFullDllNameBuffer = 0x50;  // ...the text's address
inline constexpr std::size_t kEntryBytes = 0x58;           // what a reader needs of a record

}  // namespace loader

struct LoadedModule {
    std::uint64_t base = 0;  // load address, also the module handle
    std::uint32_t size = 0;  // SizeOfImage as the loader recorded it
    // Full path of the module's file; empty when the name could not be read or is
    // kImagePathCharacters characters or longer.
    std::wstring path;
};

// Copies `into.size()` bytes from `address` of the examined process; false unless all of them
// could be read.
using ReadMemory = std::function<bool(std::uint64_t address, std::span<std::uint8_t> into)>;

// The records of one process's list that discovery reads at most. The list lies in the process's
// own memory, so the process can make it as long as it likes; the largest real processes (big
// applications with their plug-ins) load a few hundred modules. Past this many records a list is
// forged or broken, and reading further would only let one process cost more than the largest
// honest one: each record costs a memory query, and each image among them a pacing wait.
inline constexpr std::size_t kMaxLoaderEntries = 1024;

// The modules in load order, the main executable first, from the process environment block at
// `pebAddress`: the list, addresses, sizes and names that EnumProcessModules,
// GetModuleInformation and GetModuleFileNameExW give. Empty when the loader's data cannot be read
// (the process is starting or has ended). The walk ends at the first record that cannot be read
// (the list changed while it was read), at the first record it has already read (a list that
// leads in a circle), or after kMaxLoaderEntries records. Memory is read a page at a time, and the
// last pages read are kept: the loader's records and names lie close together.
[[nodiscard]] std::vector<LoadedModule> ReadLoaderList(std::uint64_t pebAddress,
                                                       const ReadMemory& read);

// The preferred base that a module is recorded with, or nothing when it is not recorded.
// `fileBase` is the ImageBase read from the module's file: nothing when the file could not be
// opened and mapped (no base of its own to compare, so the module is passed over), 0 when it has
// no readable PE headers (the file was replaced or damaged since it was loaded: it is recorded
// with preferred base 0, which tells the reader of the records as much). A module at its base, or
// one whose SizeOfImage the loader recorded as 0, is not recorded.
[[nodiscard]] std::optional<std::uint64_t> RelocatedBase(const LoadedModule& module,
                                                         std::optional<std::uint64_t> fileBase);

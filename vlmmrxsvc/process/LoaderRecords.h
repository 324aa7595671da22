// The list of loaded modules that a 64-bit process's loader keeps, decoded from the process's
// memory through a reader, so that the walk is the same whether the memory is another process's
// or a test's bytes.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

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

// A list being rewritten while it is read could lead in a circle; no process has this many.
inline constexpr std::size_t kMaxLoadedModules = 16384;

// The modules in load order, the main executable first, from the process environment block at
// `pebAddress`: the list, addresses, sizes and names that EnumProcessModules,
// GetModuleInformation and GetModuleFileNameExW give. Empty when the loader's data cannot be read
// (the process is starting or has ended); a list that changes while it is read ends at the first
// record that cannot be read, and a walk never goes past kMaxLoadedModules records.
[[nodiscard]] std::vector<LoadedModule> ReadLoaderList(std::uint64_t pebAddress,
                                                       const ReadMemory& read);

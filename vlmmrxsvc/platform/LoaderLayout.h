// Where a 64-bit process's loader keeps its list of loaded modules, as the process-status calls
// read it from outside: the process environment block points to the loader's data, whose
// load-order list links one record per module, the main executable first. These offsets are
// those of every 64-bit Windows; a name is UTF-16 there.
#pragma once

#include <cstddef>
#include <cstdint>

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

// The repair-pending file's records: 1590 bytes each, back to back from offset 0, no header;
// numbers little-endian, texts UTF-16LE in fields of 261 units (at most 260 characters and a
// terminator, the rest of the field zeros). The file's name is the configured one with "64"
// inserted before its extension.
#pragma once

#include "image/PeHeaders.h"
#include "platform/ByteFields.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

inline constexpr std::size_t kRepairTextUnits = 261;  // 260 characters and a terminator
inline constexpr std::size_t kRepairTextBytes = kRepairTextUnits * kUtf16UnitBytes;
inline constexpr std::size_t kPagefileUsageOffset = 0;
inline constexpr std::size_t kLoadBaseOffset = 8;
inline constexpr std::size_t kPreferredBaseOffset = 16;
inline constexpr std::size_t kComponentPathOffset = 24;
inline constexpr std::size_t kProcessPathOffset = kComponentPathOffset + kRepairTextBytes;
inline constexpr std::size_t kOccupantPathOffset = kProcessPathOffset + kRepairTextBytes;
inline constexpr std::size_t kRepairRecordBytes = kOccupantPathOffset + kRepairTextBytes;
static_assert(kRepairRecordBytes == 1590);

// A record is a process record exactly when its loadBase is this value (the 32-bit all-ones
// value widened with zero upper bits, not the 64-bit all-ones value); its three numbers all hold
// it then.
inline constexpr std::uint64_t kProcessRecordMark = 0x00000000FFFFFFFF;

using RepairRecordBytes = std::array<std::uint8_t, kRepairRecordBytes>;
using RepairRecordSpan = std::span<const std::uint8_t, kRepairRecordBytes>;

// One record, its texts without their terminators.
struct RepairRecord {
    [[nodiscard]] bool IsProcessRecord() const { return loadBase == kProcessRecordMark; }

    // The process's committed private bytes; kProcessRecordMark in a process record.
    std::uint64_t pagefileUsage = 0;
    std::uint64_t loadBase = 0;       // where the component is loaded
    std::uint64_t preferredBase = 0;  // the ImageBase in the component's file
    std::wstring componentPath;
    std::wstring processPath;
    std::wstring occupantPath;  // what occupies the preferred base in the process, or "?"
};

// Decodes one record. Each text runs to its first terminator within its field; a field without
// one gives its first 260 units (as a reader that forces a terminator into the last unit sees
// it) and makes the result false: such a record was never written whole by a writer that keeps
// the format (a torn write, or garbage).
[[nodiscard]] bool DecodeRepairRecord(RepairRecordSpan bytes, RepairRecord& record);

// Encodes one record into `bytes`, every text field zero-filled after its terminator. False,
// with `bytes` untouched, when a text has more than 260 characters (or holds a terminator, which
// would cut it).
[[nodiscard]] bool EncodeRepairRecord(std::uint64_t pagefileUsage, std::uint64_t loadBase,
                                      std::uint64_t preferredBase, std::wstring_view componentPath,
                                      std::wstring_view processPath, std::wstring_view occupantPath,
                                      RepairRecordBytes& bytes);

// Reads a repair-pending file through `read` from offset 0, in reads that grow to about a
// mebibyte, until a read delivers less than it asked for (the end of the file, or a read that
// fails), and hands every whole record with its offset to `visit`, in file order. Returns the
// bytes after the last whole record. The file may grow meanwhile: what was read is a prefix of
// whole records, since records are only ever appended.
using RepairRecordVisitor = std::function<void(std::uint64_t offset, RepairRecordSpan bytes)>;
std::uint64_t ReadRepairRecords(const pe::ReadAt& read, const RepairRecordVisitor& visit);

// The file the service uses for the configured path of the repair-pending file: "64" appended to
// the file's base name, before its extension (C:\Data\pending.dat gives C:\Data\pending64.dat,
// C:\Data\pending gives C:\Data\pending64). Empty when `configured` is empty or the result would
// not fit the platform's path buffers (260 characters and a terminator).
[[nodiscard]] std::wstring RepairFilePath(std::wstring_view configured);

// Where the next record goes in a file of `fileBytes` bytes: the first record boundary at or after
// its end, so that a file cut inside a record (a power cut mid-write) keeps every later record in
// step.
[[nodiscard]] std::uint64_t NextRecordOffset(std::uint64_t fileBytes);

// The records of repair-pending files as the report tool reads them: each whole record with its
// offset and its state, the bytes after the last whole record, the name of the machine a file
// came from, and the messages and exit codes that damage gives.
#pragma once

#include "image/PeHeaders.h"
#include "image/RepairRecord.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The tool's exit codes.
inline constexpr int kExitClean = 0;
// A file holds damage that the service would not have made: an unterminated text, a record
// completed with something other than 0xFF bytes, or bytes after the last whole record.
inline constexpr int kExitDamaged = 1;
inline constexpr int kExitUsage = 2;  // a wrong command line
// A file is missing or cannot be read (or the output cannot be written); the others are shown.
inline constexpr int kExitUnreadable = 3;

enum class RecordState {
    kValid,  // its three texts are terminated within their fields
    // Not whole, but as the service leaves a record cut by a torn write: the service writes its
    // next record at the next boundary and fills the rest of the cut one with 0xFF bytes, so that
    // no reader takes it for a record. Only a warning.
    kFilled,
    kDamaged,  // not whole in any way the service would have left it
};

struct ScannedRecord {
    std::uint64_t offset = 0;  // of the record's first byte in its file
    RecordState state = RecordState::kDamaged;
    RepairRecord record;  // its texts as far as they go when it is not valid

    [[nodiscard]] bool IsComponent() const
    {
        return state == RecordState::kValid && !record.IsProcessRecord();
    }
    [[nodiscard]] bool IsProcess() const
    {
        return state == RecordState::kValid && record.IsProcessRecord();
    }
};

using ScannedRecordVisitor = std::function<void(const ScannedRecord&)>;

// Reads repair-pending files from offset 0 in pieces that grow to about a mebibyte, the next
// piece read on a thread of its own while the records of the last one are decoded, until a read
// delivers less than it asked for (the end of the file, or a read that fails). Its buffers serve
// file after file.
class RepairFileScanner {
public:
    // Hands every whole record of the file that `read` delivers to `visit`, in file order (the
    // same object each time, decoded anew); returns the bytes after the last one. `read` is
    // called from one thread at a time.
    std::uint64_t Scan(const pe::ReadAt& read, const ScannedRecordVisitor& visit);

private:
    std::vector<std::uint8_t> current_;
    std::vector<std::uint8_t> next_;
    ScannedRecord entry_;
};

// Scans one file with a scanner of its own.
std::uint64_t ScanRepairFile(const pe::ReadAt& read, const ScannedRecordVisitor& visit);

// The state of a record whose texts `whole` says are terminated or not.
[[nodiscard]] RecordState StateOf(RepairRecordSpan bytes, bool whole);

// The machine a collected file stands for: its file name without its extension and without the
// "64" that the service adds (C:\Fleet\WEB01.dat and pending64.dat give WEB01 and pending).
[[nodiscard]] std::string SourceName(std::string_view path);

// What standard error says of a record that is not valid, naming `file` and the offset.
[[nodiscard]] std::string StateMessage(std::string_view file, const ScannedRecord& entry);

// What it says of `bytes` after the last whole record, which start at `offset`.
[[nodiscard]] std::string TornTailMessage(std::string_view file, std::uint64_t bytes,
                                          std::uint64_t offset);

// A repair-pending file as the report tool reads it: every whole record with its offset and
// whether its texts are whole, the bytes after the last whole record, and what the tool derives
// from them (the groups by preferred base, the summary, the exit code).
#pragma once

#include "image/PeHeaders.h"
#include "image/RepairRecord.h"

#include <cstdint>
#include <deque>
#include <map>
#include <span>
#include <string>
#include <vector>

// The tool's exit codes.
inline constexpr int kExitClean = 0;
// The file does not end on a record boundary, or a record's texts are not terminated.
inline constexpr int kExitDamaged = 1;
// Nothing to read: no such file, no file named and none configured, or a bad command line.
inline constexpr int kExitNothingToRead = 2;

struct ReportRecord {
    std::uint64_t offset = 0;  // of the record's first byte in the file
    // Its three texts are terminated within their fields. An invalid record is garbage or a torn
    // write: it is shown, but neither grouped, counted as a component or process, nor planned.
    bool valid = false;
    RepairRecord record;
};

struct Report {
    // In file order. A deque, so that the groups' pointers to its records stay valid while it
    // grows.
    std::deque<ReportRecord> records;
    std::uint64_t tornTailBytes = 0;  // after the last whole record

    // Where the bytes after the last whole record start.
    [[nodiscard]] std::uint64_t TornTailOffset() const;
};

// Reads a file through `read` as ReadRepairRecords does: every whole record, and the bytes after
// the last one.
[[nodiscard]] Report ReadReport(const pe::ReadAt& read);

// A file held whole in `bytes`.
[[nodiscard]] Report ReadReport(std::span<const std::uint8_t> bytes);

// Whether `entry` is a valid component record (valid, and not a process record).
[[nodiscard]] bool IsComponentRecord(const ReportRecord& entry);

// The valid component records by the preferred base they wanted, the bases in ascending order,
// each group in file order.
using PreferredBaseGroups = std::map<std::uint64_t, std::vector<const ReportRecord*>>;
[[nodiscard]] PreferredBaseGroups GroupByPreferredBase(const Report& report);

struct ReportSummary {
    std::size_t records = 0;
    std::size_t componentRecords = 0;
    std::size_t processRecords = 0;
    std::size_t invalidRecords = 0;
    std::size_t distinctComponents = 0;  // component paths compared without regard to case
    std::uint64_t tornTailBytes = 0;
};
[[nodiscard]] ReportSummary Summarize(const Report& report);

// kExitDamaged when the file has a torn tail or an invalid record; kExitClean otherwise.
[[nodiscard]] int ExitCodeFor(const Report& report);

// One message per damage, each naming `file` and the offset: every invalid record, then the torn
// tail with its length. None for an undamaged file.
[[nodiscard]] std::vector<std::string> DamageMessages(const std::string& file,
                                                      const Report& report);

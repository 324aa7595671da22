// The report's three forms, as UTF-8 text: a table for people, CSV and JSON for programs.
#pragma once

#include "vlmmrxreport/RebasePlan.h"
#include "vlmmrxreport/Report.h"

#include <string>
#include <vector>

enum class ReportFormat { kTable, kCsv, kJson };

// The component records grouped by the preferred base they wanted (each with where it was
// loaded, in which process, and the occupant), then the process records, any invalid records
// and torn tail, the plan's section when `plan` is given, and last a summary line.
[[nodiscard]] std::string FormatTable(const Report& report, const std::vector<PlannedBase>* plan);

// A header line, then one line per record, fields named as in FormatJson; fields are quoted as
// RFC 4180 has it where they need to be, and lines end in CRLF. It has no place for a plan.
[[nodiscard]] std::string FormatCsv(const Report& report);

// One object: "records" (one object per record, in file order), "tornTailBytes", "collisions"
// (one object per preferred base that two or more valid component records wanted, the bases in
// ascending order) and, when `plan` is given, "plan". Bases are strings of "0x" and 16 hex
// digits; offsets, sizes and counts are numbers.
[[nodiscard]] std::string FormatJson(const Report& report, const std::vector<PlannedBase>* plan);

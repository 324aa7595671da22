// The tool's command line: vlmmrxreport [--format table|csv|json] [--plan] [FILE]
#pragma once

#include "vlmmrxreport/ReportFormats.h"

#include <string>
#include <vector>

inline constexpr char kUsage[] =
    "usage: vlmmrxreport [--format table|csv|json] [--plan] [FILE]\n"
    "Shows the records of the service's repair-pending file (FILE, or without it the file that\n"
    "the \"RepairPendingFile\" setting names). The file is only read, also while the service\n"
    "writes it. Exit codes: 0 all is well, 1 the file is damaged (a torn tail or an invalid\n"
    "record; all whole records are still shown), 2 nothing to read.\n";

struct ReportOptions {
    ReportFormat format = ReportFormat::kTable;
    bool plan = false;
    bool help = false;
    std::string file;   // UTF-8; empty: the file the service uses
    std::string error;  // what is wrong with the command line; empty when nothing is
};

// Reads the arguments after the program's name, UTF-8. A second FILE, an unknown option, a
// missing or unknown format, and --plan with csv (which has no place for it) are errors.
[[nodiscard]] ReportOptions ParseArguments(const std::vector<std::string>& arguments);

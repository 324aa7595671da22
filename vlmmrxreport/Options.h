// The tool's command line, in the manner of a Windows tool: a switch starts with "--", "-" or
// "/", its name in any letter case, and takes its value after "=" or ":" or as the next argument
// (--format json, --format=json, -format json, /format:json, /FORMAT json).
#pragma once

#include "image/RepairRecord.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr char kVersion[] = "vlmmrxreport 1.1.0\n";

inline constexpr char kUsage[] =
    "usage: vlmmrxreport [options] [FILE|FOLDER ...]\n"
    "Shows what the service's repair-pending files hold: every record with its class, what the\n"
    "relocations cost, and with --plan new bases that can be applied. Without FILE it reads the\n"
    "file that the \"RepairPendingFile\" setting names; a FOLDER stands for every file in it\n"
    "(one per machine: each record's source is its file's name without \"64\" and extension).\n"
    "The files are only read, also while the service writes them.\n"
    "\n"
    "options (\"--\", \"-\" or \"/\", any letter case; a value after a space, \"=\" or \":\"):\n"
    "  --format F        table (default), csv, json, jsonl (one object per record and line),\n"
    "                    html (one page with drawings), cmd (the plan as editbin commands)\n"
    "  --plan            add the rebase plan; with csv or cmd, write only the plan\n"
    "  --base ADDRESS    where the plan's search for new bases starts (64 KiB aligned)\n"
    "  -o FILE           write to FILE (table and csv with a UTF-8 byte-order mark)\n"
    "  --component PAT   only components whose path, or file name, matches PAT (* and ?)\n"
    "  --process PAT     only records of processes whose path, or file name, matches PAT\n"
    "  --help, /?        this text;  --version  the tool's version\n"
    "\n"
    "classes: aslr (moved on purpose: no action), collision (another image held the base:\n"
    "rebase it), moved (loaded elsewhere though the base was free), unknown (file not readable\n"
    "here). Exit codes: 0 done (a record the service completed after a torn write is a\n"
    "warning), 1 a file is damaged, 2 wrong command line, 3 a file is missing or unreadable.\n"
    "\n"
    "examples:\n"
    "  vlmmrxreport /format:html -o fleet.html \\\\server\\vlm\\fleet\n"
    "  vlmmrxreport --plan --format cmd -o rebase.cmd --component *\\Contoso\\* fleet\n";

enum class ReportFormat { kTable, kCsv, kJson, kJsonLines, kHtml, kCmd };

struct ReportOptions {
    ReportFormat format = ReportFormat::kTable;
    bool plan = false;
    bool help = false;
    bool version = false;
    std::optional<std::uint64_t> base;
    std::string output;            // UTF-8; empty: standard output
    std::wstring componentPattern;  // empty: every component
    std::wstring processPattern;    // empty: every process
    std::vector<std::string> inputs;  // UTF-8; none: the file the service uses
    std::string error;  // what is wrong with the command line; empty when nothing is
};

// Reads the arguments after the program's name, UTF-8. An unknown switch, a missing or wrong
// value, --base without the plan and a plan with jsonl are errors. An argument that starts with
// "/" but names no switch is a path (a file on a system whose paths start with "/").
[[nodiscard]] ReportOptions ParseArguments(const std::vector<std::string>& arguments);

// Whether `record` passes the --component and --process filters, without regard to case: "*"
// any run of characters, "?" any one. A pattern that holds a path separator matches the whole
// path, any other the file name. A process record's component is its image.
[[nodiscard]] bool Selects(const ReportOptions& options, const RepairRecord& record);

#include "vlmmrxreport/ReportFormats.h"

#include "vlmmrxreport/Utf8.h"

#include <charconv>
#include <string_view>

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr unsigned kBitsPerHexDigit = 4;
constexpr unsigned kBaseDigits = 16;
constexpr unsigned kSizeDigits = 8;
constexpr unsigned kEscapeDigits = 4;
constexpr std::size_t kDecimalDigits = 20;  // of the largest 64-bit number
constexpr unsigned kControlLimit = 0x20;
// About what a record takes in any form, so that the output grows in few steps.
constexpr std::size_t kBytesPerRecord = 320;
constexpr std::string_view kCsvSpecials = ",\"\r\n";
constexpr std::string_view kCsvLineEnd = "\r\n";
constexpr std::string_view kCsvHeader = "offset,kind,valid,pagefileUsage,loadBase,preferredBase,"
                                        "componentPath,processPath,occupantPath\r\n";

// The parts that Append writes: texts (UTF-8, or UTF-16 units written as UTF-8), decimal
// numbers, and the wrappers below.
struct Hex {  // "0x" and upper-case hex digits
    std::uint64_t value;
    unsigned digits = kBaseDigits;
};
struct JsonText {  // a JSON string, quotes included
    std::wstring_view text;
};
struct CsvText {  // a CSV field, quoted when it needs to be
    std::wstring_view text;
};

void Put(std::string& out, std::string_view text) { out += text; }

void Put(std::string& out, std::wstring_view text) { AppendUtf8(out, text); }

void Put(std::string& out, std::uint64_t number)
{
    char digits[kDecimalDigits];
    out.append(digits, std::to_chars(digits, digits + kDecimalDigits, number).ptr);
}

void Put(std::string& out, Hex hex)
{
    out += "0x";
    for (unsigned digit = hex.digits; digit-- > 0;) {
        out.push_back(kHexDigits[(hex.value >> (digit * kBitsPerHexDigit)) & 0xF]);
    }
}

void Put(std::string& out, JsonText json)
{
    const std::wstring_view text = json.text;
    out.push_back('"');
    std::size_t run = 0;  // the start of the units not yet written
    for (std::size_t index = 0; index < text.size(); ++index) {
        const wchar_t unit = text[index];
        const bool control = static_cast<std::uint32_t>(unit) < kControlLimit;
        if (unit != L'"' && unit != L'\\' && !control) {
            continue;
        }
        AppendUtf8(out, text.substr(run, index - run));
        run = index + 1;
        if (control) {
            out += "\\u";
            Put(out, Hex{static_cast<std::uint64_t>(unit), kEscapeDigits});
            out.erase(out.size() - kEscapeDigits - 2, 2);  // the "0x"
        } else {
            out.push_back('\\');
            out.push_back(static_cast<char>(unit));
        }
    }
    AppendUtf8(out, text.substr(run));
    out.push_back('"');
}

void Put(std::string& out, CsvText csv)
{
    const std::size_t start = out.size();
    AppendUtf8(out, csv.text);
    if (out.find_first_of(kCsvSpecials, start) == std::string::npos) {
        return;
    }
    const std::string field = out.substr(start);
    out.resize(start);
    out.push_back('"');
    for (const char byte : field) {
        out.append(byte == '"' ? 2 : 1, byte);
    }
    out.push_back('"');
}

template <typename... Parts>
void Append(std::string& out, const Parts&... parts)
{
    (Put(out, parts), ...);
}

std::string_view KindOf(const RepairRecord& record)
{
    return record.IsProcessRecord() ? "process" : "component";
}

std::string_view Flag(bool value) { return value ? "true" : "false"; }

std::string Reserved(const Report& report)
{
    std::string out;
    out.reserve(report.records.size() * kBytesPerRecord);
    return out;
}

void AppendSummary(std::string& out, const Report& report)
{
    const ReportSummary summary = Summarize(report);
    Append(out, "records: ", summary.records, ", component records: ", summary.componentRecords,
           ", process records: ", summary.processRecords, ", invalid records: ",
           summary.invalidRecords, ", distinct components: ", summary.distinctComponents,
           ", bytes after the last whole record: ", summary.tornTailBytes, "\n");
}

void AppendTableGroups(std::string& out, const Report& report)
{
    const PreferredBaseGroups groups = GroupByPreferredBase(report);
    if (groups.empty()) {
        out += "Component records: none\n";
    }
    for (const auto& [base, entries] : groups) {
        Append(out, "Wanted base ", Hex{base}, ": ", entries.size(), " component record(s)\n");
        for (const ReportRecord* entry : entries) {
            const RepairRecord& record = entry->record;
            Append(out, "  ", record.componentPath, " (record at offset ", entry->offset,
                   ")\n    loaded at ", Hex{record.loadBase}, " in ", record.processPath,
                   "\n    occupant ", record.occupantPath, "\n");
        }
    }
}

void AppendTableProcesses(std::string& out, const Report& report)
{
    const std::size_t start = out.size();
    for (const ReportRecord& entry : report.records) {
        if (entry.valid && entry.record.IsProcessRecord()) {
            Append(out, "  ", entry.record.processPath, " (record at offset ", entry.offset, ")\n");
        }
    }
    out.insert(start, out.size() == start ? "Process records: none\n" : "Process records\n");
}

void AppendTableDamage(std::string& out, const Report& report)
{
    for (const ReportRecord& entry : report.records) {
        if (!entry.valid) {
            Append(out, "Invalid record at offset ", entry.offset,
                   " (a text not terminated in its field): ", entry.record.componentPath, "\n");
        }
    }
    if (report.tornTailBytes > 0) {
        Append(out, "Torn tail: ", report.tornTailBytes, " bytes at offset ",
               report.TornTailOffset(), "\n");
    }
}

void AppendTablePlan(std::string& out, const std::vector<PlannedBase>& plan)
{
    if (plan.empty()) {
        out += "Rebase plan: nothing to place (no relocated component whose file is readable)\n";
        return;
    }
    out += "Rebase plan (new preferred bases, 64 KiB aligned, clear of every recorded range)\n";
    for (const PlannedBase& entry : plan) {
        Append(out, "  ", entry.componentPath, "\n    wanted ", Hex{entry.preferredBase},
               ", SizeOfImage ", Hex{entry.sizeOfImage, kSizeDigits}, ", new base ",
               Hex{entry.plannedBase}, "\n");
    }
}

void AppendJsonRecord(std::string& out, const ReportRecord& entry)
{
    const RepairRecord& record = entry.record;
    Append(out, "{\"offset\": ", entry.offset, ", \"kind\": \"", KindOf(record),
           "\", \"valid\": ", Flag(entry.valid), ", \"pagefileUsage\": ", record.pagefileUsage,
           ", \"loadBase\": \"", Hex{record.loadBase}, "\", \"preferredBase\": \"",
           Hex{record.preferredBase}, "\", \"componentPath\": ", JsonText{record.componentPath},
           ", \"processPath\": ", JsonText{record.processPath},
           ", \"occupantPath\": ", JsonText{record.occupantPath}, "}");
}

void AppendJsonCollision(std::string& out, const PreferredBaseGroups::value_type& group)
{
    Append(out, "{\"preferredBase\": \"", Hex{group.first}, "\", \"records\": [");
    for (const ReportRecord* entry : group.second) {
        Append(out, entry == group.second.front() ? "" : ", ", entry->offset);
    }
    out += "]}";
}

void AppendJsonPlanned(std::string& out, const PlannedBase& entry)
{
    Append(out, "{\"componentPath\": ", JsonText{entry.componentPath}, ", \"preferredBase\": \"",
           Hex{entry.preferredBase}, "\", \"sizeOfImage\": ", std::uint64_t{entry.sizeOfImage},
           ", \"plannedBase\": \"", Hex{entry.plannedBase}, "\"}");
}

// Appends `items` as a JSON array, one element per line, each written by `append`.
template <typename Items, typename AppendItem>
void AppendJsonArray(std::string& out, const Items& items, const AppendItem& append)
{
    out.push_back('[');
    for (std::size_t index = 0; index < items.size(); ++index) {
        out += index == 0 ? "\n    " : ",\n    ";
        append(out, items[index]);
    }
    out += items.empty() ? "]" : "\n  ]";
}

}  // namespace

std::string FormatTable(const Report& report, const std::vector<PlannedBase>* plan)
{
    std::string out = Reserved(report);
    AppendTableGroups(out, report);
    AppendTableProcesses(out, report);
    AppendTableDamage(out, report);
    if (plan != nullptr) {
        AppendTablePlan(out, *plan);
    }
    AppendSummary(out, report);
    return out;
}

std::string FormatCsv(const Report& report)
{
    std::string out = Reserved(report);
    out += kCsvHeader;
    for (const ReportRecord& entry : report.records) {
        const RepairRecord& record = entry.record;
        Append(out, entry.offset, ",", KindOf(record), ",", Flag(entry.valid), ",",
               record.pagefileUsage, ",", Hex{record.loadBase}, ",", Hex{record.preferredBase},
               ",", CsvText{record.componentPath}, ",", CsvText{record.processPath}, ",",
               CsvText{record.occupantPath}, kCsvLineEnd);
    }
    return out;
}

std::string FormatJson(const Report& report, const std::vector<PlannedBase>* plan)
{
    std::vector<PreferredBaseGroups::value_type> collisions;
    for (const auto& group : GroupByPreferredBase(report)) {
        if (group.second.size() > 1) {
            collisions.push_back(group);
        }
    }
    std::string out = Reserved(report);
    out += "{\n  \"records\": ";
    AppendJsonArray(out, report.records, AppendJsonRecord);
    Append(out, ",\n  \"tornTailBytes\": ", report.tornTailBytes, ",\n  \"collisions\": ");
    AppendJsonArray(out, collisions, AppendJsonCollision);
    if (plan != nullptr) {
        out += ",\n  \"plan\": ";
        AppendJsonArray(out, *plan, AppendJsonPlanned);
    }
    out += "\n}\n";
    return out;
}

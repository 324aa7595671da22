#include "vlmmrxreport/ReportFormats.h"

#include "vlmmrxreport/Utf8.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::size_t kTableColumns = 120;
constexpr std::size_t kClassColumns = 11;  // "collision" and two spaces
constexpr std::size_t kBaseColumns = 20;
constexpr std::size_t kSizeColumns = 12;
constexpr unsigned kSizeDigits = 8;
constexpr std::size_t kComponentColumns =
    kTableColumns - kClassColumns - 2 * kBaseColumns - kSizeColumns;
constexpr std::size_t kLeastComponentColumns = 24;
// A plan's line: an indent, the action, then a base and a size, or a reason, and the component.
constexpr std::size_t kPlanIndent = 2;
constexpr std::size_t kActionColumns = 8;
constexpr std::string_view kReasonEnd = ": ";
constexpr std::wstring_view kEllipsis = L"...";
constexpr std::string_view kCsvLineEnd = "\r\n";
constexpr std::string_view kCsvHeader =
    "offset,kind,valid,pagefileUsage,loadBase,preferredBase,componentPath,processPath,"
    "occupantPath,source,class,reason,dynamicBase,pe32,signed,systemFile,sizeOfImage,"
    "currentImageBase\r\n";
constexpr std::string_view kPlanCsvHeader =
    "componentPath,action,plannedBase,currentImageBase,wantedBase,sizeOfImage,format,class,"
    "processes,estimatedBytes,reason\r\n";
constexpr std::string_view kCmdLineEnd = "\r\n";
// Characters that no Windows file name holds, and that would end or break a command's quoting.
constexpr std::wstring_view kUnsafeInCommand = L"\"<>|*\r\n";
constexpr wchar_t kFirstPrintable = 0x20;

std::string_view Flag(bool value) { return value ? "true" : "false"; }

std::string_view KindOf(const RepairRecord& record)
{
    return record.IsProcessRecord() ? "process" : "component";
}

bool IsComponentClass(RecordClass recordClass)
{
    return static_cast<std::size_t>(recordClass) < kComponentClasses;
}

// Why a record is what it is, where the class alone does not say it.
std::string_view ReasonOf(const Findings::Verdict& verdict)
{
    switch (verdict.recordClass) {
    case RecordClass::kUnknown:
        return verdict.facts->unreadable;
    case RecordClass::kFilled:
        return "completed with 0xFF bytes by the service after a torn write";
    case RecordClass::kDamaged:
        return "a text is not terminated in its field";
    default:
        return {};
    }
}

std::string_view FormatOf(const pe::ImageFacts& image) { return image.pe32Plus ? "PE32+" : "PE32"; }

void PutPadded(std::string& out, std::string_view text, std::size_t columns)
{
    out += text;
    out.append(columns > text.size() ? columns - text.size() : 1, ' ');
}

// The end of `path` in at most `columns` units, after "..." when cut, so that the file name
// stays in view; a surrogate pair is never split.
void PutTail(std::string& out, std::wstring_view path, std::size_t columns)
{
    if (path.size() <= columns) {
        Put(out, path);
        return;
    }
    std::wstring_view tail = path.substr(path.size() - (columns - kEllipsis.size()));
    if (!tail.empty() && (tail.front() & 0xFC00) == 0xDC00) {
        tail.remove_prefix(1);
    }
    Append(out, kEllipsis, tail);
}

// `path` as the command processor reads it inside quotes: "%" doubled; a character that no file
// name holds (and that could end the quoting or the line) as "?".
void PutCommandPath(std::string& out, std::wstring_view path)
{
    out.push_back('"');
    std::wstring safe;
    for (const wchar_t unit : path) {
        if (unit < kFirstPrintable || kUnsafeInCommand.find(unit) != std::wstring_view::npos) {
            safe.push_back(L'?');
        } else {
            safe.append(unit == L'%' ? 2 : 1, unit);
        }
    }
    Append(out, safe, '"');
}

bool SafeInCommand(std::wstring_view path)
{
    return std::none_of(path.begin(), path.end(), [](wchar_t unit) {
        return unit < kFirstPrintable || kUnsafeInCommand.find(unit) != std::wstring_view::npos;
    });
}

// The members that a record adds from its file: none when it is not a readable component.
void PutJsonFacts(std::string& out, const Findings::Verdict& verdict)
{
    const FileFacts* facts = verdict.facts;
    if (facts == nullptr || !facts->image) {
        return;
    }
    Append(out, ", \"dynamicBase\": ", Flag(facts->DynamicBase()),
           ", \"pe32\": ", Flag(!facts->image->pe32Plus), ", \"signed\": ", Flag(facts->Signed()),
           ", \"systemFile\": ", Flag(facts->systemFile),
           ", \"sizeOfImage\": ", std::uint64_t{facts->image->sizeOfImage},
           ", \"currentImageBase\": \"", Hex{facts->image->imageBase}, "\"");
}

void PutJsonRecord(std::string& out, const SourceFindings& source, const ScannedRecord& entry,
                   const Findings::Verdict& verdict)
{
    const RepairRecord& record = entry.record;
    Append(out, "{\"offset\": ", entry.offset, ", \"kind\": \"", KindOf(record),
           "\", \"valid\": ", Flag(entry.state == RecordState::kValid), ", \"pagefileUsage\": ");
    if (entry.IsProcess()) {
        out += "null, \"loadBase\": null, \"preferredBase\": null";
    } else {
        Append(out, record.pagefileUsage, ", \"loadBase\": \"", Hex{record.loadBase},
               "\", \"preferredBase\": \"", Hex{record.preferredBase}, "\"");
    }
    Append(out, ", \"componentPath\": ", JsonText{record.componentPath},
           ", \"processPath\": ", JsonText{record.processPath},
           ", \"occupantPath\": ", JsonText{record.occupantPath},
           ", \"source\": ", JsonText{source.wideName}, ", \"class\": ");
    if (IsComponentClass(verdict.recordClass)) {
        Append(out, "\"", NameOf(verdict.recordClass), "\"");
    } else {
        out += "null";
    }
    if (const std::string_view reason = ReasonOf(verdict); !reason.empty()) {
        Append(out, ", \"reason\": ", Utf8JsonText{reason});
    }
    PutJsonFacts(out, verdict);
    out.push_back('}');
}

class TableWriter final : public ReportWriter {
public:
    TableWriter(TextOut& out, bool plan) : out_(out), plan_(plan)
    {
        std::string& text = out_.Text();
        PutPadded(text, "CLASS", kClassColumns);
        PutPadded(text, "WANTED BASE", kBaseColumns);
        PutPadded(text, "LOADED AT", kBaseColumns);
        PutPadded(text, "SIZE", kSizeColumns);
        text += "COMPONENT\n";
    }

    void BeginSource(const SourceFindings& source, bool several) override
    {
        if (several) {
            Append(out_.Text(), "== ", source.name, " (", source.file, ")\n");
        }
    }

    void Record(const SourceFindings&, const ScannedRecord& entry,
                const Findings::Verdict& verdict) override
    {
        std::string& text = out_.Text();
        const RepairRecord& record = entry.record;
        PutPadded(text, NameOf(verdict.recordClass), kClassColumns);
        if (entry.IsProcess()) {
            text.append("-").append(kBaseColumns - 1, ' ');
            text.append("-").append(kBaseColumns - 1, ' ');
        } else {
            Append(text, Hex{record.preferredBase}, "  ", Hex{record.loadBase}, "  ");
        }
        if (verdict.facts != nullptr && verdict.facts->image) {
            Append(text, Hex{verdict.facts->SizeOfImage(), kSizeDigits}, "  ");
        } else {
            text.append("-").append(kSizeColumns - 1, ' ');
        }
        PutTail(text, record.componentPath, kComponentColumns);
        text.push_back('\n');
        out_.Commit();
    }

    void End(const Findings& findings, const std::vector<PlanEntry>* plan) override
    {
        if (plan_ && plan != nullptr) {
            PutPlan(*plan);
        }
        PutSummary(findings);
    }

private:
    void PutPlan(const std::vector<PlanEntry>& plan)
    {
        std::string& text = out_.Text();
        text += "\nREBASE PLAN (in path order; write it as commands with --format cmd)\n";
        constexpr std::size_t kLead = kPlanIndent + kActionColumns;
        for (const PlanEntry& entry : plan) {
            text.append(kPlanIndent, ' ');
            PutPadded(text, NameOf(entry.action), kActionColumns);
            if (entry.action == PlanAction::kSkip) {
                Append(text, entry.reason, kReasonEnd);
                const std::size_t used = kLead + entry.reason.size() + kReasonEnd.size();
                PutTail(text, entry.component->path,
                        std::max(kLeastComponentColumns,
                                 used < kTableColumns ? kTableColumns - used : 0));
            } else {
                Append(text, Hex{entry.base}, "  ",
                       Hex{entry.component->facts->SizeOfImage(), kSizeDigits}, "  ");
                PutTail(text, entry.component->path,
                        kTableColumns - kLead - kBaseColumns - kSizeColumns);
            }
            text.push_back('\n');
            out_.Commit();
        }
    }

    void PutSummary(const Findings& findings)
    {
        const auto& of = findings.RecordsOf();
        std::array<std::uint64_t, kComponentClasses> components{};
        std::uint64_t distinct = 0;
        for (const ComponentFindings& component : findings.Components()) {
            if (component.recordsOf != decltype(component.recordsOf){}) {
                ++components[static_cast<std::size_t>(component.Class())];
                ++distinct;
            }
        }
        std::uint64_t records = 0;
        for (const std::uint64_t count : of) {
            records += count;
        }
        auto count = [&of](RecordClass which) { return of[static_cast<std::size_t>(which)]; };
        auto classes = [](std::string& text, const std::uint64_t* counts) {
            Append(text, "collision ", counts[1], ", moved ", counts[2], ", aslr ", counts[0],
                   ", unknown ", counts[3], "\n");
        };
        std::string& text = out_.Text();
        Append(text, "\nrecords: ", records, " (component ",
               records - count(RecordClass::kProcess) - count(RecordClass::kFilled) -
                   count(RecordClass::kDamaged),
               ", process ", count(RecordClass::kProcess), ", filled ",
               count(RecordClass::kFilled), ", damaged ", count(RecordClass::kDamaged), ")\n");
        text += "component records: ";
        classes(text, of.data());
        Append(text, "components: ", distinct, " distinct: ");
        classes(text, components.data());
        Append(text, "estimated cost: at most ", HumanBytes(findings.EstimatedBytes()),
               " of private pages\n  (SizeOfImage x processes that recorded a collision or "
               "moved image: an upper bound)\n");
        Append(text, "sources: ", std::uint64_t{findings.Sources().size()},
               ", bytes after the last whole record: ", findings.TornTailBytes(), "\n");
    }

    TextOut& out_;
    bool plan_;
};

class CsvWriter final : public ReportWriter {
public:
    explicit CsvWriter(TextOut& out) : out_(out) { out_.Text() += kCsvHeader; }

    void Record(const SourceFindings& source, const ScannedRecord& entry,
                const Findings::Verdict& verdict) override
    {
        std::string& text = out_.Text();
        const RepairRecord& record = entry.record;
        Append(text, entry.offset, ",", KindOf(record), ",",
               Flag(entry.state == RecordState::kValid), ",");
        if (!entry.IsProcess()) {
            Append(text, record.pagefileUsage, ",", Hex{record.loadBase}, ",",
                   Hex{record.preferredBase});
        } else {
            text += ",,";  // a process record's numbers are marks, not numbers
        }
        Append(text, ",", CsvText{record.componentPath}, ",", CsvText{record.processPath}, ",",
               CsvText{record.occupantPath}, ",", Utf8CsvText{source.name}, ",");
        if (IsComponentClass(verdict.recordClass)) {
            text += NameOf(verdict.recordClass);
        }
        Append(text, ",", Utf8CsvText{ReasonOf(verdict)}, ",");
        const FileFacts* facts = verdict.facts;
        if (facts != nullptr && facts->image) {
            Append(text, Flag(facts->DynamicBase()), ",", Flag(!facts->image->pe32Plus), ",",
                   Flag(facts->Signed()), ",", Flag(facts->systemFile), ",",
                   std::uint64_t{facts->image->sizeOfImage}, ",", Hex{facts->image->imageBase});
        } else {
            text += ",,,,,";
        }
        text += kCsvLineEnd;
        out_.Commit();
    }

    void End(const Findings&, const std::vector<PlanEntry>*) override {}

private:
    TextOut& out_;
};

class JsonWriter final : public ReportWriter {
public:
    explicit JsonWriter(TextOut& out) : out_(out) { out_.Text() += "{\n  \"records\": ["; }

    void Record(const SourceFindings& source, const ScannedRecord& entry,
                const Findings::Verdict& verdict) override
    {
        out_.Text() += first_ ? "\n    " : ",\n    ";
        first_ = false;
        PutJsonRecord(out_.Text(), source, entry, verdict);
        out_.Commit();
    }

    void End(const Findings& findings, const std::vector<PlanEntry>* plan) override
    {
        std::string& text = out_.Text();
        Append(text, first_ ? "]" : "\n  ]", ",\n  \"tornTailBytes\": ", findings.TornTailBytes());
        PutCollisions(findings);
        PutSources(findings);
        PutComponents(findings);
        if (plan != nullptr) {
            PutPlan(*plan);
        }
        out_.Text() += "\n}\n";
    }

private:
    // Opens an array member; Item() separates its elements, Close() ends it.
    void Open(std::string_view name)
    {
        Append(out_.Text(), ",\n  \"", name, "\": [");
        empty_ = true;
    }
    std::string& Item()
    {
        out_.Commit();
        out_.Text() += empty_ ? "\n    " : ",\n    ";
        empty_ = false;
        return out_.Text();
    }
    void Close() { out_.Text() += empty_ ? "]" : "\n  ]"; }

    void PutCollisions(const Findings& findings)
    {
        Open("collisions");
        for (const auto* collision : findings.CollisionsByBase()) {
            const auto& [base, records] = *collision;
            if (records.size() < 2) {
                continue;
            }
            std::string& text = Item();
            Append(text, "{\"preferredBase\": \"", Hex{base}, "\", \"records\": [");
            for (const auto& [source, offset] : records) {
                Append(text, &offset == &records.front().second ? "" : ", ", offset);
            }
            text += "], \"sources\": [";
            for (const auto& [source, offset] : records) {
                Append(text, &offset == &records.front().second ? "" : ", ",
                       JsonText{findings.Sources()[source].wideName});
            }
            text += "]}";
        }
        Close();
    }

    void PutSources(const Findings& findings)
    {
        Open("sources");
        for (const SourceFindings& source : findings.Sources()) {
            const auto& of = source.recordsOf;
            Append(Item(), "{\"source\": ", JsonText{source.wideName},
                   ", \"file\": ", Utf8JsonText{source.file},
                   ", \"readable\": ", Flag(source.readable), ", \"records\": ", source.records,
                   ", \"filledRecords\": ", of[static_cast<std::size_t>(RecordClass::kFilled)],
                   ", \"damagedRecords\": ", of[static_cast<std::size_t>(RecordClass::kDamaged)],
                   ", \"tornTailBytes\": ", source.tornTailBytes, "}");
        }
        Close();
    }

    void PutComponents(const Findings& findings)
    {
        Open("components");
        for (const ComponentFindings* component : findings.Ranked()) {
            std::string& text = Item();
            Append(text, "{\"componentPath\": ", JsonText{component->path}, ", \"class\": \"",
                   NameOf(component->Class()), "\", \"records\": ");
            std::uint64_t records = 0;
            for (const std::uint64_t count : component->recordsOf) {
                records += count;
            }
            Append(text, records, ", \"processes\": ", component->processes,
                   ", \"estimatedBytes\": ", component->EstimatedBytes(), "}");
        }
        Close();
    }

    void PutPlan(const std::vector<PlanEntry>& plan)
    {
        Open("plan");
        for (const PlanEntry& entry : plan) {
            if (entry.action == PlanAction::kSkip) {
                continue;
            }
            const pe::ImageFacts& image = *entry.component->facts->image;
            Append(Item(), "{\"componentPath\": ", JsonText{entry.component->path},
                   ", \"preferredBase\": \"", Hex{entry.component->wantedBase},
                   "\", \"sizeOfImage\": ", std::uint64_t{image.sizeOfImage},
                   ", \"plannedBase\": \"", Hex{entry.base}, "\", \"action\": \"",
                   NameOf(entry.action), "\", \"currentImageBase\": \"", Hex{image.imageBase},
                   "\", \"pe32\": ", Flag(!image.pe32Plus), "}");
        }
        Close();
        Open("skipped");
        for (const PlanEntry& entry : plan) {
            if (entry.action == PlanAction::kSkip) {
                Append(Item(), "{\"componentPath\": ", JsonText{entry.component->path},
                       ", \"class\": \"", NameOf(entry.component->Class()),
                       "\", \"reason\": ", Utf8JsonText{entry.reason}, "}");
            }
        }
        Close();
    }

    TextOut& out_;
    bool first_ = true;
    bool empty_ = true;
};

class JsonLinesWriter final : public ReportWriter {
public:
    explicit JsonLinesWriter(TextOut& out) : out_(out) {}

    void Record(const SourceFindings& source, const ScannedRecord& entry,
                const Findings::Verdict& verdict) override
    {
        PutJsonRecord(out_.Text(), source, entry, verdict);
        out_.Text().push_back('\n');
        out_.Commit();
    }

    void End(const Findings&, const std::vector<PlanEntry>*) override {}

private:
    TextOut& out_;
};

class PlanCsvWriter final : public ReportWriter {
public:
    explicit PlanCsvWriter(TextOut& out) : out_(out) {}

    void End(const Findings&, const std::vector<PlanEntry>* plan) override
    {
        std::string& text = out_.Text();
        text += kPlanCsvHeader;
        for (const PlanEntry& entry : *plan) {
            const ComponentFindings& component = *entry.component;
            const auto& image = component.facts->image;
            Append(text, CsvText{component.path}, ",", NameOf(entry.action), ",");
            if (entry.action != PlanAction::kSkip) {
                Append(text, Hex{entry.base});
            }
            text += ",";
            if (image) {
                Append(text, Hex{image->imageBase});
            }
            Append(text, ",", Hex{component.wantedBase}, ",");
            if (image) {
                Append(text, std::uint64_t{image->sizeOfImage}, ",", FormatOf(*image));
            } else {
                text += ",";
            }
            Append(text, ",", NameOf(component.Class()), ",", component.processes, ",",
                   component.EstimatedBytes(), ",", Utf8CsvText{entry.reason}, kCsvLineEnd);
            out_.Commit();
        }
    }

private:
    TextOut& out_;
};

class CmdWriter final : public ReportWriter {
public:
    explicit CmdWriter(TextOut& out) : out_(out) {}

    void End(const Findings& findings, const std::vector<PlanEntry>* plan) override
    {
        std::array<std::uint64_t, 3> actions{};
        for (const PlanEntry& entry : *plan) {
            ++actions[static_cast<std::size_t>(entry.action)];
        }
        std::string& text = out_.Text();
        Append(text, "@echo off", kCmdLineEnd, "rem Rebase plan of vlmmrxreport for ",
               std::uint64_t{findings.Sources().size()}, " source(s): ", actions[0],
               " to rebase, ", actions[1], " keep their base, ", actions[2], " skipped.",
               kCmdLineEnd,
               "rem Run it where editbin is on PATH (a developer command prompt), on the copies "
               "you deploy;",
               kCmdLineEnd,
               "rem then deploy them, restart the processes, and run vlmmrxreport --plan again.",
               kCmdLineEnd, "chcp 65001 >nul", kCmdLineEnd);
        for (const PlanEntry& entry : *plan) {
            PutCommand(entry);
            out_.Commit();
        }
    }

private:
    void PutCommand(const PlanEntry& entry)
    {
        std::string& text = out_.Text();
        const std::wstring& path = entry.component->path;
        if (entry.action == PlanAction::kRebase && SafeInCommand(path)) {
            Append(text, "editbin /NOLOGO /REBASE:BASE=", ShortHex{entry.base}, " ");
            PutCommandPath(text, path);
            Append(text, " || exit /b 1", kCmdLineEnd);
            return;
        }
        text += "rem ";
        if (entry.action == PlanAction::kRebase) {
            text += "skip (its path holds characters no file name can): ";
        } else if (entry.action == PlanAction::kKeep) {
            Append(text, "keep ", ShortHex{entry.base}, " (already clear): ");
        } else {
            Append(text, "skip (", entry.reason, "): ");
        }
        PutCommandPath(text, path);
        text += kCmdLineEnd;
    }

    TextOut& out_;
};

}  // namespace

void ReportWriter::BeginSource(const SourceFindings&, bool) {}

void ReportWriter::Record(const SourceFindings&, const ScannedRecord&, const Findings::Verdict&) {}

std::unique_ptr<ReportWriter> MakeWriter(ReportFormat format, bool plan, TextOut& out)
{
    switch (format) {
    case ReportFormat::kCsv:
        return plan ? std::unique_ptr<ReportWriter>(std::make_unique<PlanCsvWriter>(out))
                    : std::make_unique<CsvWriter>(out);
    case ReportFormat::kJson:
        return std::make_unique<JsonWriter>(out);
    case ReportFormat::kJsonLines:
        return std::make_unique<JsonLinesWriter>(out);
    case ReportFormat::kHtml:
        return MakeHtmlWriter(out);
    case ReportFormat::kCmd:
        return std::make_unique<CmdWriter>(out);
    case ReportFormat::kTable:
        break;
    }
    return std::make_unique<TableWriter>(out, plan);
}

Gathering GatheringFor(ReportFormat format, bool plan)
{
    Gathering gathering;
    gathering.ranges = plan;
    gathering.collisions = format == ReportFormat::kJson;
    gathering.contested = format == ReportFormat::kHtml;
    return gathering;
}

bool WantsByteOrderMark(ReportFormat format)
{
    return format == ReportFormat::kTable || format == ReportFormat::kCsv;
}

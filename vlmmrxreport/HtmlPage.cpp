// The report as one self-contained page: no script, nothing fetched (its content security policy
// forbids both), the drawings inline SVG. Written at the end, from the aggregates alone.
#include "vlmmrxreport/ReportFormats.h"

#include "platform/Paths.h"
#include "vlmmrxreport/Utf8.h"

#include <algorithm>

namespace {

constexpr std::size_t kMostRanked = 1000;
constexpr std::size_t kMostDrawings = 50;
// The drawing: a label column, then the address axis; one row per range.
constexpr double kLabelWidth = 360;
constexpr double kPlotWidth = 560;
constexpr double kRowHeight = 22;
constexpr double kBarHeight = 14;
constexpr double kBarTop = 4;  // below the row's top
constexpr double kLeastBarWidth = 3;
constexpr double kTextBaseline = 15;

constexpr std::string_view kHead =
    "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
    "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
    "style-src 'unsafe-inline'\">\n"
    "<title>Relocated components</title>\n<style>\n"
    "body{font:14px system-ui,sans-serif;margin:2em;color:#222}\n"
    "table{border-collapse:collapse;margin:.5em 0 1.5em}\n"
    "td,th{border:1px solid #ccc;padding:.2em .6em;text-align:left}\n"
    "td.n{text-align:right}\ncode{font-size:13px}\n"
    ".collision{color:#b00}.moved{color:#a60}.aslr{color:#270}.unknown{color:#666}\n"
    "svg text{font:12px monospace;fill:#222}\n"
    "rect.wanted{fill:#fff;stroke:#b00;stroke-width:2}\n"
    "rect.occupant{fill:#b00;opacity:.35}\nrect.load{fill:#36c}\n"
    "</style></head><body>\n<h1>Relocated components</h1>\n";

constexpr std::string_view kAdvice[kComponentClasses] = {
    "none: the loader moves it on purpose and shares its pages",
    "rebase it (see the plan): each process holds private copies of its relocated pages",
    "rebase it if it recurs: its base was free, yet it was loaded elsewhere",
    "read the report where the file is, or copy the file here"};

std::size_t IndexOf(RecordClass recordClass) { return static_cast<std::size_t>(recordClass); }

void PutCell(std::string& out, std::uint64_t number)
{
    Append(out, "<td class=\"n\">", number, "</td>");
}

void PutSources(std::string& out, const Findings& findings)
{
    const auto& of = findings.RecordsOf();
    std::uint64_t records = 0;
    for (const std::uint64_t count : of) {
        records += count;
    }
    Append(out, "<p class=\"sources\">", records, " records from ",
           std::uint64_t{findings.Sources().size()}, " source(s):");
    for (const SourceFindings& source : findings.Sources()) {
        Append(out, " <code>", Utf8HtmlText{source.name}, "</code>",
               source.readable ? "" : " (unreadable)");
    }
    Append(out, ". Estimated cost: at most <b>", HumanBytes(findings.EstimatedBytes()),
           "</b> of private pages (SizeOfImage &times; processes: an upper bound).</p>\n");
}

void PutClasses(std::string& out, const Findings& findings)
{
    std::array<std::uint64_t, kComponentClasses> components{};
    for (const ComponentFindings* component : findings.Ranked()) {
        ++components[IndexOf(component->Class())];
    }
    out += "<h2>Records by class</h2>\n<table class=\"classes\"><tr><th>class</th>"
           "<th>records</th><th>components</th><th>what to do</th></tr>\n";
    for (std::size_t index = 0; index < kComponentClasses; ++index) {
        const std::string_view name = NameOf(static_cast<RecordClass>(index));
        Append(out, "<tr class=\"", name, "\"><td>", name, "</td>");
        PutCell(out, findings.RecordsOf()[index]);
        PutCell(out, components[index]);
        Append(out, "<td>", kAdvice[index], "</td></tr>\n");
    }
    for (const RecordClass other : {RecordClass::kProcess, RecordClass::kFilled,
                                    RecordClass::kDamaged}) {
        Append(out, "<tr><td>", NameOf(other), "</td>");
        PutCell(out, findings.RecordsOf()[IndexOf(other)]);
        out += "<td></td><td></td></tr>\n";
    }
    out += "</table>\n";
}

void PutRanked(std::string& out, const Findings& findings)
{
    const auto ranked = findings.Ranked();
    out += "<h2>Components by estimated cost</h2>\n<table class=\"ranked\"><tr><th>#</th>"
           "<th>class</th><th>estimated cost</th><th>processes</th><th>SizeOfImage</th>"
           "<th>component</th></tr>\n";
    for (std::size_t index = 0; index < std::min(ranked.size(), kMostRanked); ++index) {
        const ComponentFindings& component = *ranked[index];
        const std::string_view name = NameOf(component.Class());
        out += "<tr>";
        PutCell(out, index + 1);
        Append(out, "<td class=\"", name, "\">", name, "</td><td class=\"n\">",
               HumanBytes(component.EstimatedBytes()), "</td>");
        PutCell(out, component.processes);
        PutCell(out, component.facts->SizeOfImage());
        Append(out, "<td><code>", HtmlText{component.path}, "</code></td></tr>\n");
    }
    out += "</table>\n";
    if (ranked.size() > kMostRanked) {
        Append(out, "<p>and ", std::uint64_t{ranked.size() - kMostRanked},
               " more components: see --format json.</p>\n");
    }
}

struct Row {
    std::string_view kind;  // the bar's class
    std::string label;
    std::wstring title;
    std::uint64_t start;
    std::uint64_t end;
};

// The drawing's axis is ordered, not to scale: the ranges' ends, sorted, lie evenly apart, so
// that ranges gigabytes apart and ranges a page apart show alike whether they overlap.
void PutDrawing(std::string& out, const std::vector<Row>& rows)
{
    std::vector<std::uint64_t> ends;
    for (const Row& row : rows) {
        ends.push_back(row.start);
        ends.push_back(row.end);
    }
    std::sort(ends.begin(), ends.end());
    ends.erase(std::unique(ends.begin(), ends.end()), ends.end());
    const double steps = static_cast<double>(std::max<std::size_t>(ends.size() - 1, 1));
    const auto at = [&](std::uint64_t address) {
        const auto rank = std::lower_bound(ends.begin(), ends.end(), address) - ends.begin();
        return kLabelWidth + kPlotWidth * static_cast<double>(rank) / steps;
    };
    const auto height = static_cast<std::uint64_t>(kRowHeight * static_cast<double>(rows.size()));
    const auto width = static_cast<std::uint64_t>(kLabelWidth + kPlotWidth);
    Append(out, "<svg class=\"drawing\" xmlns=\"http://www.w3.org/2000/svg\" width=\"", width,
           "\" height=\"", height, "\" viewBox=\"0 0 ", width, " ", height, "\">\n");
    for (std::size_t index = 0; index < rows.size(); ++index) {
        const Row& row = rows[index];
        const double top = kRowHeight * static_cast<double>(index);
        const double x = at(row.start);
        const double w = std::max(kLeastBarWidth, at(row.end) - x);
        Append(out, "<text x=\"0\" y=\"", static_cast<std::uint64_t>(top + kTextBaseline), "\">",
               Utf8HtmlText{row.label}, "</text><rect class=\"", row.kind, "\" x=\"",
               static_cast<std::uint64_t>(x), "\" y=\"", static_cast<std::uint64_t>(top + kBarTop),
               "\" width=\"", static_cast<std::uint64_t>(w), "\" height=\"",
               static_cast<std::uint64_t>(kBarHeight), "\"><title>", HtmlText{row.title},
               "</title></rect>\n");
    }
    out += "</svg>\n";
}

std::string Label(std::string_view what, std::uint64_t address)
{
    std::string label;
    Append(label, what, " ", Hex{address});
    return label;
}

void PutContested(std::string& out, const Findings& findings)
{
    std::vector<const std::pair<const std::uint64_t, ContestedBase>*> contested;
    for (const auto& entry : findings.Contested()) {
        contested.push_back(&entry);
    }
    std::stable_sort(contested.begin(), contested.end(), [](const auto* left, const auto* right) {
        return left->second.collisions > right->second.collisions;
    });
    Append(out, "<h2>Contested bases</h2>\n<p>", std::uint64_t{contested.size()},
           " wanted base(s) held by another image. Each drawing shows the wanted range"
           " (outlined), its occupant (shaded) and where the wanting image was loaded instead"
           " (blue), in address order (not to scale).</p>\n");
    for (std::size_t index = 0; index < std::min(contested.size(), kMostDrawings); ++index) {
        const auto& [base, contest] = *contested[index];
        Append(out, "<section class=\"contest\"><h3>Wanted base ", Hex{base}, ": ",
               contest.collisions, " collision(s)</h3>\n<p>wanted by");
        for (const ComponentFindings* component : contest.components) {
            Append(out, " <code>", HtmlText{component->path}, "</code>");
        }
        const std::uint64_t end = EndOf(base, contest.wantedBytes);
        std::vector<Row> rows{{"wanted", Label("wanted", base), {}, base, end}};
        for (const std::wstring& occupant : contest.occupants) {
            rows.push_back({"occupant", "held by " + Utf8(FileNamePart(occupant)), occupant,
                            base, end});
        }
        for (const ContestedLoad& load : contest.loads) {
            rows.push_back({"load",
                            Label("loaded at", load.loadBase) + " in " +
                                Utf8(FileNamePart(load.processPath)) + " (" +
                                findings.Sources()[load.source].name + ")",
                            load.processPath, load.loadBase, EndOf(load.loadBase, load.size)});
        }
        out += "</p>\n";
        PutDrawing(out, rows);
        out += "</section>\n";
    }
}

void PutPlan(std::string& out, const std::vector<PlanEntry>& plan)
{
    out += "<h2>Rebase plan</h2>\n<table class=\"plan\"><tr><th>action</th><th>base</th>"
           "<th>component</th><th>why not</th></tr>\n";
    for (const PlanEntry& entry : plan) {
        Append(out, "<tr><td>", NameOf(entry.action), "</td><td><code>");
        if (entry.action != PlanAction::kSkip) {
            Append(out, Hex{entry.base});
        }
        Append(out, "</code></td><td><code>", HtmlText{entry.component->path},
               "</code></td><td>", Utf8HtmlText{entry.reason}, "</td></tr>\n");
    }
    out += "</table>\n";
}

class HtmlWriter final : public ReportWriter {
public:
    explicit HtmlWriter(TextOut& out) : out_(out) {}

    void End(const Findings& findings, const std::vector<PlanEntry>* plan) override
    {
        std::string& text = out_.Text();
        text += kHead;
        PutSources(text, findings);
        PutClasses(text, findings);
        out_.Commit();
        PutRanked(out_.Text(), findings);
        out_.Commit();
        PutContested(out_.Text(), findings);
        if (plan != nullptr) {
            PutPlan(out_.Text(), *plan);
        }
        out_.Text() += "<footer><p>Made by vlmmrxreport.</p></footer>\n</body></html>\n";
    }

private:
    TextOut& out_;
};

}  // namespace

std::unique_ptr<ReportWriter> MakeHtmlWriter(TextOut& out)
{
    return std::make_unique<HtmlWriter>(out);
}

// The report's forms, written as the records stream past and closed with what is known only at
// the end: a table for people, CSV, JSON and JSON Lines for programs, an HTML page, and the plan
// as a command file or CSV.
#pragma once

#include "vlmmrxreport/Findings.h"
#include "vlmmrxreport/Options.h"
#include "vlmmrxreport/RebasePlan.h"
#include "vlmmrxreport/TextOut.h"

#include <memory>
#include <vector>

class ReportWriter {
public:
    virtual ~ReportWriter() = default;
    // A file's records follow; `several` when more than one file is read.
    virtual void BeginSource(const SourceFindings& source, bool several);
    // One record that passed the filters, with what Findings::Add made of it.
    virtual void Record(const SourceFindings& source, const ScannedRecord& entry,
                        const Findings::Verdict& verdict);
    // Everything after the records; `plan` when one was asked for.
    virtual void End(const Findings& findings, const std::vector<PlanEntry>* plan) = 0;
};

// The writer of `format`, appending to `out`. With the plan, csv writes the plan instead of the
// records.
[[nodiscard]] std::unique_ptr<ReportWriter> MakeWriter(ReportFormat format, bool plan,
                                                       TextOut& out);

// What `format` needs gathered beyond the counts.
[[nodiscard]] Gathering GatheringFor(ReportFormat format, bool plan);

// Whether output in `format` written to a file starts with a UTF-8 byte-order mark, so that
// spreadsheet programs and older shells take it for UTF-8.
[[nodiscard]] bool WantsByteOrderMark(ReportFormat format);

// The writer of the HTML page (HtmlPage.cpp).
[[nodiscard]] std::unique_ptr<ReportWriter> MakeHtmlWriter(TextOut& out);

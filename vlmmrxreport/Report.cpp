#include "vlmmrxreport/Report.h"

#include "platform/Paths.h"

#include <algorithm>
#include <unordered_set>

std::uint64_t Report::TornTailOffset() const { return records.size() * kRepairRecordBytes; }

Report ReadReport(const pe::ReadAt& read)
{
    Report report;
    report.tornTailBytes =
        ReadRepairRecords(read, [&report](std::uint64_t offset, RepairRecordSpan bytes) {
            ReportRecord& entry = report.records.emplace_back();
            entry.offset = offset;
            entry.valid = DecodeRepairRecord(bytes, entry.record);
        });
    return report;
}

Report ReadReport(std::span<const std::uint8_t> bytes)
{
    return ReadReport([bytes](std::uint64_t offset, std::span<std::uint8_t> into) {
        const auto rest = bytes.subspan(std::min<std::uint64_t>(offset, bytes.size()));
        const std::size_t count = std::min(into.size(), rest.size());
        std::copy_n(rest.begin(), count, into.begin());
        return count;
    });
}

bool IsComponentRecord(const ReportRecord& entry)
{
    return entry.valid && !entry.record.IsProcessRecord();
}

PreferredBaseGroups GroupByPreferredBase(const Report& report)
{
    PreferredBaseGroups groups;
    for (const ReportRecord& entry : report.records) {
        if (IsComponentRecord(entry)) {
            groups[entry.record.preferredBase].push_back(&entry);
        }
    }
    return groups;
}

ReportSummary Summarize(const Report& report)
{
    ReportSummary summary;
    summary.records = report.records.size();
    summary.tornTailBytes = report.tornTailBytes;
    std::unordered_set<std::wstring> components;
    components.reserve(report.records.size());
    for (const ReportRecord& entry : report.records) {
        if (!entry.valid) {
            ++summary.invalidRecords;
        } else if (entry.record.IsProcessRecord()) {
            ++summary.processRecords;
        } else {
            ++summary.componentRecords;
            components.insert(UpperCased(entry.record.componentPath));
        }
    }
    summary.distinctComponents = components.size();
    return summary;
}

int ExitCodeFor(const Report& report)
{
    const bool invalid = std::any_of(report.records.begin(), report.records.end(),
                                     [](const ReportRecord& entry) { return !entry.valid; });
    return invalid || report.tornTailBytes > 0 ? kExitDamaged : kExitClean;
}

std::vector<std::string> DamageMessages(const std::string& file, const Report& report)
{
    std::vector<std::string> messages;
    for (const ReportRecord& entry : report.records) {
        if (!entry.valid) {
            messages.push_back(file + ": the record at offset " + std::to_string(entry.offset) +
                               " has an unterminated text");
        }
    }
    if (report.tornTailBytes > 0) {
        messages.push_back(file + ": " + std::to_string(report.tornTailBytes) +
                           " bytes after the last whole record, at offset " +
                           std::to_string(report.TornTailOffset()));
    }
    return messages;
}

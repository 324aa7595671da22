// Arbitrary bytes as one to three repair-pending files of a fleet through the report tool's whole
// read path: the records, their classes from image facts made up from the paths (unreadable,
// aslr, fixed of either width, signed, under the Windows folder), the aggregates, one of the forms
// (chosen by a byte, so that each run stays fast) and the plan. Any read outside the input,
// undefined behaviour, or a plan whose ranges overlap, leave their format's bounds or are not
// aligned, stops the run.
#include "vlmmrxreport/RebasePlan.h"
#include "vlmmrxreport/ReportFormats.h"

#include <cstdlib>

namespace {

FileFacts MadeUpFacts(const std::wstring& path)
{
    FileFacts facts;
    const std::size_t kind = path.size() % 6;
    if (kind == 0) {
        facts.unreadable = "no such file";
        return facts;
    }
    const auto size = static_cast<std::uint32_t>(path.size() * 0x1234 + 1);
    const std::uint64_t base = path.empty() ? 0 : static_cast<std::uint64_t>(path[0]) << 20;
    facts.image = pe::ImageFacts{kind != 2, base, size,
                                 static_cast<std::uint16_t>(kind == 1 ? pe::kDynamicBase : 0),
                                 kind == 3};
    return facts;
}

void CheckPlan(const std::vector<PlanEntry>& plan)
{
    AddressRanges placed;
    for (const PlanEntry& entry : plan) {
        if (entry.action == PlanAction::kSkip) {
            continue;
        }
        const pe::ImageFacts& image = *entry.component->facts->image;
        const std::uint64_t end = EndOf(entry.base, image.sizeOfImage);
        const bool fits = image.pe32Plus ? end <= kPlanCeiling64 : end <= kPlanCeiling32;
        if (entry.base % kPlanAlignment != 0 || !fits || placed.EndOfOverlap(entry.base, end)) {
            std::abort();
        }
        placed.Add(entry.base, end);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2) {
        return 0;
    }
    const auto format = static_cast<ReportFormat>(data[0] % 6);
    const std::size_t files = data[1] % 3 + 1;
    const std::span<const std::uint8_t> rest(data + 2, size - 2);
    Findings findings(MadeUpFacts, L"C:\\W", GatheringFor(format, true));
    TextOut out([](std::string_view) { return true; });
    const auto writer = MakeWriter(format, true, out);
    for (std::size_t file = 0; file < files; ++file) {
        const std::size_t start = rest.size() * file / files;
        const auto part = rest.subspan(start, rest.size() * (file + 1) / files - start);
        findings.BeginSource("m" + std::to_string(file), "m.dat");
        const SourceFindings& source = findings.Sources().back();
        writer->BeginSource(source, files > 1);
        const std::uint64_t tail = ScanRepairFile(
            [part](std::uint64_t offset, std::span<std::uint8_t> into) {
                const auto from = part.subspan(std::min<std::uint64_t>(offset, part.size()));
                const std::size_t count = std::min(into.size(), from.size());
                std::copy_n(from.begin(), count, into.begin());
                return count;
            },
            [&](const ScannedRecord& entry) {
                const bool shown = entry.offset % 3 != 2;  // as a filter would leave some out
                const auto verdict = findings.Add(entry, shown);
                if (shown) {
                    writer->Record(source, entry, verdict);
                }
            });
        findings.SourceEnds(tail);
    }
    const std::vector<PlanEntry> plan = PlanRebase(findings, std::nullopt);
    CheckPlan(plan);
    writer->End(findings, &plan);
    static_cast<void>(out.Finish());
    return 0;
}

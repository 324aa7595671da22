// Arbitrary bytes as one to three repair-pending files of a fleet through the report tool's whole
// read path: the records, their classes from image facts made up from the paths (unreadable,
// aslr, fixed of either width, signed, under the Windows folder), the aggregates, one of the forms
// (chosen by a byte, so that each run stays fast) and the plan. In arbitrary bytes nearly every
// text runs through its whole field of 261 units, and formatting such garbage took nearly all of
// the time; so each file holds at most three records and a torn tail, and each text is cut at 31
// units unless its field's last unit is "xx", which keeps the field as it is (unterminated, or
// long). Any read outside the input, undefined behaviour, or a plan whose ranges overlap, leave
// their format's bounds or are not aligned, stops the run.
#include "vlmmrxreport/RebasePlan.h"
#include "vlmmrxreport/ReportFormats.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {

constexpr std::size_t kMostRecords = 3;
constexpr std::size_t kCutAtByte = 31 * kUtf16UnitBytes;
constexpr std::uint8_t kKeepWhole = 'x';

// At most kMostRecords records and a torn tail of `part`, their texts cut as above.
std::vector<std::uint8_t> ShortTexts(std::span<const std::uint8_t> part)
{
    std::vector<std::uint8_t> file(part.begin(),
                                   part.begin() + std::min(part.size(),
                                                           (kMostRecords + 1) * kRepairRecordBytes));
    for (std::size_t record = 0; file.size() - record >= kRepairRecordBytes;
         record += kRepairRecordBytes) {
        for (const std::size_t field :
             {kComponentPathOffset, kProcessPathOffset, kOccupantPathOffset}) {
            std::uint8_t* text = file.data() + record + field;
            if (text[kRepairTextBytes - 2] != kKeepWhole ||
                text[kRepairTextBytes - 1] != kKeepWhole) {
                text[kCutAtByte] = text[kCutAtByte + 1] = 0;
            }
        }
    }
    return file;
}

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
        const std::vector<std::uint8_t> part =
            ShortTexts(rest.subspan(start, rest.size() * (file + 1) / files - start));
        findings.BeginSource("m" + std::to_string(file), "m.dat");
        const SourceFindings& source = findings.Sources().back();
        writer->BeginSource(source, files > 1);
        const std::uint64_t tail = ScanRepairFile(
            [&part](std::uint64_t offset, std::span<std::uint8_t> into) {
                const auto from =
                    std::span(part).subspan(std::min<std::uint64_t>(offset, part.size()));
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

// The report tool's whole read path (the records, one of the formats and the plan) over a
// repair-pending file, with image sizes made up from the paths (some unreadable, the others a few
// mebibytes). The first byte chooses the format (bits 0 to 6, modulo 3: table, CSV, JSON) and, in
// bit 7, the plan; the rest is the file, of which at most three records and a torn tail are
// read. In arbitrary bytes nearly every text runs through its whole field of 261 units, and
// formatting such garbage was nearly all of the time; so each text is cut at 31 units, unless
// its field's last unit is "xx", which keeps the field as it is (unterminated, or long). Any read
// outside the input or undefined behaviour stops the run.
#include "vlmmrxreport/RebasePlan.h"
#include "vlmmrxreport/ReportFormats.h"

#include <algorithm>

namespace {

constexpr std::uint8_t kFormats = 3;
constexpr std::uint8_t kPlanBit = 0x80;
constexpr std::size_t kMostRecords = 3;
constexpr std::size_t kCutAtByte = 31 * kUtf16UnitBytes;
constexpr std::uint8_t kKeepWhole = 'x';

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    std::vector<std::uint8_t> file(data + 1,
                                   data + std::min(size, (kMostRecords + 1) * kRepairRecordBytes));
    for (std::size_t record = 0; file.size() - record >= kRepairRecordBytes;
         record += kRepairRecordBytes) {
        for (const std::size_t field : {kComponentPathOffset, kProcessPathOffset,
                                        kOccupantPathOffset}) {
            std::uint8_t* text = file.data() + record + field;
            if (text[kRepairTextBytes - 2] != kKeepWhole ||
                text[kRepairTextBytes - 1] != kKeepWhole) {
                text[kCutAtByte] = text[kCutAtByte + 1] = 0;
            }
        }
    }
    const Report report = ReadReport(file);
    const bool planned = (data[0] & kPlanBit) != 0;
    std::vector<PlannedBase> plan;
    if (planned) {
        plan = PlanRebase(report,
                          [](const std::wstring& path) { return path.size() % 4 * 0x123456; });
    }
    const std::vector<PlannedBase>* shown = planned ? &plan : nullptr;
    const auto format = static_cast<ReportFormat>((data[0] & ~kPlanBit) % kFormats);
    static_cast<void>(format == ReportFormat::kTable ? FormatTable(report, shown)
                      : format == ReportFormat::kCsv ? FormatCsv(report)
                                                     : FormatJson(report, shown));
    return 0;
}

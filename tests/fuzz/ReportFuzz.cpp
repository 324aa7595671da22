// The report tool's whole read path (the records, one of the formats and the plan) over
// repair-pending files built from a compact description, with image sizes made up from the paths
// (some unreadable, the others a few mebibytes). Fed raw bytes, nearly every text was 261 units
// of garbage and nearly all of the time went to formatting it, three times over; described, the
// files hold what makes a report differ (paths with quotes, commas, line breaks and lone
// surrogates, shared preferred bases, process records, unterminated texts, a torn tail), and each
// execution formats one of them once:
//   byte 0      the format (its value modulo 3: table, CSV, JSON); bit 7 asks for the plan
//   a record    a byte that, when its bits 3 to 7 are 10101, leaves by its bits 0 to 2 the
//               component, process and occupant path unterminated; the three numbers (8 bytes
//               each, little-endian); each path as a byte that counts its UTF-16 units (modulo
//               32), then the units (2 bytes each)
//   the rest    after three records, or too short for another: the file's torn tail (at most a
//               record's length less one)
// Any read outside the input or undefined behaviour stops the run. Arbitrary bytes as a file go
// through the same decoder in vlm_repair_fuzz.
#include "image/RepairRecord.h"
#include "vlmmrxreport/RebasePlan.h"
#include "vlmmrxreport/ReportFormats.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t kNumbersBytes = 3 * sizeof(std::uint64_t);
constexpr std::uint8_t kFormats = 3;
constexpr std::uint8_t kPlanBit = 0x80;
constexpr wchar_t kFieldFill = L'x';
constexpr std::uint8_t kUnterminatedMask = 0xF8;
constexpr std::uint8_t kUnterminatedMark = 0xA8;
// Long enough for every way a path is quoted, escaped or cut; an unterminated text still fills
// its whole field.
constexpr std::size_t kLongestText = 32;
// Enough for collisions and a plan among several components and processes; each record more
// costs as much again.
constexpr std::size_t kMostRecords = 3;

// The next path of the description: a count of units, then the units.
std::wstring TakeText(std::span<const std::uint8_t>& rest)
{
    std::wstring text;
    if (rest.empty()) {
        return text;
    }
    const std::size_t units = std::min<std::size_t>(rest[0] % kLongestText, (rest.size() - 1) / 2);
    for (std::size_t unit = 0; unit < units; ++unit) {
        text.push_back(static_cast<wchar_t>(rest[1 + 2 * unit] | rest[2 + 2 * unit] << 8));
    }
    rest = rest.subspan(1 + 2 * units);
    return text.substr(0, text.find(L'\0'));  // a terminator inside would end the text there
}

// The file that `rest` describes, as the service writes it, with the damage it asks for.
std::vector<std::uint8_t> BuildFile(std::span<const std::uint8_t> rest)
{
    constexpr std::size_t kFieldOffsets[] = {kComponentPathOffset, kProcessPathOffset,
                                             kOccupantPathOffset};
    std::vector<std::uint8_t> file;
    for (std::size_t count = 0; count < kMostRecords && rest.size() > kNumbersBytes; ++count) {
        // Unterminated texts only behind a mark: as common as the other bits, they would fill
        // nearly every record with whole fields to decode and format.
        const std::uint8_t unterminated =
            (rest[0] & kUnterminatedMask) == kUnterminatedMark ? rest[0] : 0;
        std::uint64_t numbers[3] = {};
        std::memcpy(numbers, rest.data() + 1, kNumbersBytes);
        rest = rest.subspan(1 + kNumbersBytes);
        const std::wstring component = TakeText(rest);
        const std::wstring process = TakeText(rest);
        const std::wstring occupant = TakeText(rest);
        RepairRecordBytes record{};
        static_cast<void>(EncodeRepairRecord(numbers[0], numbers[1], numbers[2], component,
                                             process, occupant, record));
        for (std::size_t field = 0; field < std::size(kFieldOffsets); ++field) {
            if ((unterminated >> field & 1) != 0) {
                for (std::size_t unit = 0; unit < kRepairTextUnits; ++unit) {
                    const std::size_t at = kFieldOffsets[field] + unit * kUtf16UnitBytes;
                    record[at] = record[at] != 0 || record[at + 1] != 0 ? record[at] : kFieldFill;
                }
            }
        }
        file.insert(file.end(), record.begin(), record.end());
    }
    // What is left is the torn tail, shorter than a record.
    rest = rest.first(std::min(rest.size(), kRepairRecordBytes - 1));
    file.insert(file.end(), rest.begin(), rest.end());
    return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    const std::uint8_t what = data[0];
    const Report report = ReadReport(BuildFile({data + 1, size - 1}));
    std::vector<PlannedBase> plan;
    if ((what & kPlanBit) != 0) {
        plan = PlanRebase(report,
                          [](const std::wstring& path) { return path.size() % 4 * 0x123456; });
    }
    const std::vector<PlannedBase>* planned = (what & kPlanBit) != 0 ? &plan : nullptr;
    switch (static_cast<ReportFormat>((what & ~kPlanBit) % kFormats)) {
    case ReportFormat::kTable:
        static_cast<void>(FormatTable(report, planned));
        break;
    case ReportFormat::kCsv:
        static_cast<void>(FormatCsv(report));
        break;
    case ReportFormat::kJson:
        static_cast<void>(FormatJson(report, planned));
        break;
    }
    return 0;
}

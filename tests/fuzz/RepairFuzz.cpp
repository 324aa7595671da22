// Arbitrary bytes as a repair-pending file: every whole record is decoded and put through the
// loading rules. A record that decodes whole must encode back to the bytes it came from (its
// numbers, and each text up to and with its terminator; the encoder zero-fills the rest of a
// field), and one that passes the rules must then be known. A decoder that reads a wrong offset or
// width, a text past its terminator, or a read outside the input (the sanitizers) stops the run.
#include "image/KnownComponents.h"
#include "image/RepairRecord.h"
#include "platform/Paths.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <utility>

namespace {

// Whether `encoded` holds the numbers of `original` and, in each text field, its text and
// terminator followed by zeros.
bool EncodesBackTo(RepairRecordSpan original, const RepairRecordBytes& encoded,
                   const RepairRecord& record)
{
    const std::pair<std::size_t, std::size_t> texts[] = {
        {kComponentPathOffset, record.componentPath.size()},
        {kProcessPathOffset, record.processPath.size()},
        {kOccupantPathOffset, record.occupantPath.size()}};
    bool same = std::equal(original.begin(), original.begin() + kComponentPathOffset,
                           encoded.begin());
    for (const auto& [offset, units] : texts) {
        const std::size_t kept = (units + 1) * kUtf16UnitBytes;
        same = same && std::equal(original.begin() + offset, original.begin() + offset + kept,
                                  encoded.begin() + offset) &&
               std::all_of(encoded.begin() + offset + kept,
                           encoded.begin() + offset + kRepairTextBytes,
                           [](std::uint8_t byte) { return byte == 0; });
    }
    return same;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    KnownComponents known;
    // Some paths exist and some do not, by the parity of their length.
    const PathExists exists = [](const std::wstring& path) { return path.size() % 2 == 0; };
    RepairRecord record;
    for (std::size_t offset = 0; size - offset >= kRepairRecordBytes;
         offset += kRepairRecordBytes) {
        const RepairRecordSpan bytes(data + offset, kRepairRecordBytes);
        if (!DecodeRepairRecord(bytes, record)) {
            continue;
        }
        RepairRecordBytes encoded{};
        if (!EncodeRepairRecord(record.pagefileUsage, record.loadBase, record.preferredBase,
                                record.componentPath, record.processPath, record.occupantPath,
                                encoded) ||
            !EncodesBackTo(bytes, encoded, record)) {
            std::abort();
        }
        const bool passed = known.Load(record, exists);
        const bool knownNow = record.IsProcessRecord()
                                  ? known.HasKey(UpperCased(record.processPath))
                                  : known.IsKnownComponent(record.componentPath);
        if (passed && !knownNow) {
            std::abort();
        }
    }
    return 0;
}

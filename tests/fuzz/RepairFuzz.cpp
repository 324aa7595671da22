// Arbitrary bytes as a repair-pending file: every whole record is decoded and put through the
// loading rules; a record whose texts are whole must encode back to itself. Any read outside the
// input, any undefined behaviour or a record that does not survive the round trip stops the run.
#include "image/KnownComponents.h"
#include "image/RepairRecord.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

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
        static_cast<void>(known.Load(record, exists));
        RepairRecordBytes encoded{};
        RepairRecord again;
        if (!EncodeRepairRecord(record.pagefileUsage, record.loadBase, record.preferredBase,
                                record.componentPath, record.processPath, record.occupantPath,
                                encoded) ||
            !DecodeRepairRecord(encoded, again) || again.componentPath != record.componentPath ||
            again.processPath != record.processPath || again.occupantPath != record.occupantPath ||
            again.loadBase != record.loadBase) {
            std::abort();
        }
    }
    return 0;
}

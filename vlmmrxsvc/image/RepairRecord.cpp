#include "image/RepairRecord.h"

#include "platform/ByteFields.h"
#include "platform/Paths.h"

#include <algorithm>
#include <vector>

namespace {

constexpr std::size_t kTextCharacters = kRepairTextUnits - 1;
constexpr std::wstring_view kRepairFileSuffix = L"64";
// Bytes read per call: a few records at first, doubling up to about a mebibyte, so that a small
// file costs little and a large one takes few reads.
constexpr std::size_t kFirstRead = 16 * kRepairRecordBytes;
constexpr std::size_t kLargestRead = 660 * kRepairRecordBytes;

std::uint64_t NumberAt(RepairRecordSpan bytes, std::size_t offset)
{
    return *LoadField<std::uint64_t>(bytes, offset);  // every number lies inside the record
}

// The text of the field at `offset`, cut to 260 units as a reader that forces a terminator into
// the field's last unit sees it; false when no terminator lies within the field.
bool TextAt(RepairRecordSpan bytes, std::size_t offset, std::wstring& text)
{
    const bool terminated = LoadUtf16Into(bytes.subspan(offset, kRepairTextBytes), text);
    text.resize(std::min(text.size(), kTextCharacters));
    return terminated;
}

bool FitsField(std::wstring_view text)
{
    return text.size() <= kTextCharacters && text.find(L'\0') == std::wstring_view::npos;
}

}  // namespace

bool DecodeRepairRecord(RepairRecordSpan bytes, RepairRecord& record)
{
    record.pagefileUsage = NumberAt(bytes, kPagefileUsageOffset);
    record.loadBase = NumberAt(bytes, kLoadBaseOffset);
    record.preferredBase = NumberAt(bytes, kPreferredBaseOffset);
    // All three are decoded whatever the first gives, so that a reader can show the record.
    const bool component = TextAt(bytes, kComponentPathOffset, record.componentPath);
    const bool process = TextAt(bytes, kProcessPathOffset, record.processPath);
    const bool occupant = TextAt(bytes, kOccupantPathOffset, record.occupantPath);
    return component && process && occupant;
}

bool EncodeRepairRecord(std::uint64_t pagefileUsage, std::uint64_t loadBase,
                        std::uint64_t preferredBase, std::wstring_view componentPath,
                        std::wstring_view processPath, std::wstring_view occupantPath,
                        RepairRecordBytes& bytes)
{
    if (!FitsField(componentPath) || !FitsField(processPath) || !FitsField(occupantPath)) {
        return false;
    }
    bytes.fill(0);
    const std::span<std::uint8_t> record(bytes);
    StoreField(record, kPagefileUsageOffset, pagefileUsage);
    StoreField(record, kLoadBaseOffset, loadBase);
    StoreField(record, kPreferredBaseOffset, preferredBase);
    StoreUtf16(record.subspan(kComponentPathOffset, kRepairTextBytes), componentPath);
    StoreUtf16(record.subspan(kProcessPathOffset, kRepairTextBytes), processPath);
    StoreUtf16(record.subspan(kOccupantPathOffset, kRepairTextBytes), occupantPath);
    return true;
}

std::uint64_t ReadRepairRecords(const pe::ReadAt& read, const RepairRecordVisitor& visit)
{
    std::vector<std::uint8_t> chunk(kFirstRead);
    for (std::uint64_t offset = 0;;) {
        const std::size_t delivered = read(offset, chunk);
        for (std::size_t at = 0; delivered - at >= kRepairRecordBytes; at += kRepairRecordBytes) {
            visit(offset + at, RepairRecordSpan(chunk.data() + at, kRepairRecordBytes));
        }
        if (delivered < chunk.size()) {
            return delivered % kRepairRecordBytes;
        }
        offset += delivered;
        chunk.resize(std::min(2 * chunk.size(), kLargestRead));
    }
}

std::wstring RepairFilePath(std::wstring_view configured)
{
    const PathParts parts = SplitPath(configured);
    std::wstring path(parts.drive);
    path.append(parts.directory).append(parts.name).append(kRepairFileSuffix).append(
        parts.extension);
    if (configured.empty() || path.size() >= kImagePathCharacters) {
        return {};
    }
    return path;
}

std::uint64_t NextRecordOffset(std::uint64_t fileBytes)
{
    return (fileBytes + kRepairRecordBytes - 1) / kRepairRecordBytes * kRepairRecordBytes;
}

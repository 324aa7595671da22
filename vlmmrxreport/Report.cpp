#include "vlmmrxreport/Report.h"

#include <algorithm>
#include <array>
#include <future>

namespace {

constexpr std::uint8_t kFill = 0xFF;
constexpr std::array<std::size_t, 3> kTextOffsets = {kComponentPathOffset, kProcessPathOffset,
                                                     kOccupantPathOffset};
constexpr std::string_view kServiceSuffix = "64";
// The pieces of a file: whole numbers of records, the largest about a mebibyte.
constexpr std::size_t kFirstPieceBytes = 16 * kRepairRecordBytes;
constexpr std::size_t kPieceBytes = 64 * kFirstPieceBytes;

bool HasTerminator(RepairRecordSpan bytes, std::size_t offset)
{
    for (std::size_t at = offset; at < offset + kRepairTextBytes; at += kUtf16UnitBytes) {
        if (bytes[at] == 0 && bytes[at + 1] == 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

RecordState StateOf(RepairRecordSpan bytes, bool whole)
{
    if (whole) {
        return RecordState::kValid;
    }
    // Where the trailing run of fill bytes starts: the cut. Every text that ends before it was
    // written whole, and so is terminated; one that reaches into the fill is not.
    const auto fill = std::find_if(bytes.rbegin(), bytes.rend(),
                                   [](std::uint8_t byte) { return byte != kFill; });
    const auto cut = static_cast<std::size_t>(bytes.rend() - fill);
    const bool written = std::all_of(kTextOffsets.begin(), kTextOffsets.end(), [&](auto offset) {
        return offset + kRepairTextBytes > cut || HasTerminator(bytes, offset);
    });
    return cut > 0 && cut < bytes.size() && written ? RecordState::kFilled
                                                     : RecordState::kDamaged;
}

std::uint64_t RepairFileScanner::Scan(const pe::ReadAt& read, const ScannedRecordVisitor& visit)
{
    // A few records first, doubling up to a whole piece: a small file costs little. The buffers
    // only grow, and serve the next file as they are.
    std::size_t piece = kFirstPieceBytes;
    current_.resize(std::max(current_.size(), piece));
    std::size_t delivered = read(0, std::span(current_.data(), piece));
    for (std::uint64_t offset = 0;;) {
        const bool more = delivered == piece;
        std::future<std::size_t> ahead;
        if (more) {
            piece = std::min(2 * piece, kPieceBytes);
            next_.resize(std::max(next_.size(), piece));
            ahead = std::async(std::launch::async, [&read, this, piece, at = offset + delivered] {
                return read(at, std::span(next_.data(), piece));
            });
        }
        std::size_t at = 0;
        for (; delivered - at >= kRepairRecordBytes; at += kRepairRecordBytes) {
            const RepairRecordSpan bytes(current_.data() + at, kRepairRecordBytes);
            entry_.offset = offset + at;
            entry_.state = StateOf(bytes, DecodeRepairRecord(bytes, entry_.record));
            visit(entry_);
        }
        if (!more) {
            return delivered - at;
        }
        offset += delivered;
        delivered = ahead.get();
        std::swap(current_, next_);
    }
}

std::uint64_t ScanRepairFile(const pe::ReadAt& read, const ScannedRecordVisitor& visit)
{
    RepairFileScanner scanner;
    return scanner.Scan(read, visit);
}

std::string SourceName(std::string_view path)
{
    std::string_view name = path.substr(path.find_last_of("\\/:") + 1);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string_view::npos && dot > 0) {
        name = name.substr(0, dot);
    }
    if (name.size() > kServiceSuffix.size() && name.ends_with(kServiceSuffix)) {
        name.remove_suffix(kServiceSuffix.size());
    }
    return std::string(name);
}

std::string StateMessage(std::string_view file, const ScannedRecord& entry)
{
    const std::string where = std::string(file) + ": the record at offset " +
                              std::to_string(entry.offset);
    return entry.state == RecordState::kFilled
               ? "warning: " + where +
                     " was cut by a torn write and completed with 0xFF bytes by the service"
               : where + " has an unterminated text";
}

std::string TornTailMessage(std::string_view file, std::uint64_t bytes, std::uint64_t offset)
{
    return std::string(file) + ": " + std::to_string(bytes) +
           " bytes after the last whole record, at offset " + std::to_string(offset);
}

#include "worker/CallSiteTable.h"

#include <optional>

namespace {

// Pointer encodings of the exception tables (DW_EH_PE_*).
constexpr std::uint8_t kEncodingOmitted = 0xFF;
constexpr std::uint8_t kEncodingUleb128 = 0x01;

constexpr std::uint8_t kUlebPayloadBits = 0x7F;
constexpr std::uint8_t kUlebMoreBit = 0x80;
constexpr unsigned kUlebBitsPerByte = 7;
constexpr unsigned kBitsInValue = 64;

// Reads the bytes of `lsda` front to back; every read fails once the bytes run out.
class TableReader {
public:
    explicit TableReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    [[nodiscard]] bool AtEnd() const { return bytes_.empty(); }

    std::optional<std::uint8_t> Byte()
    {
        if (bytes_.empty()) {
            return std::nullopt;
        }
        const std::uint8_t value = bytes_.front();
        bytes_ = bytes_.subspan(1);
        return value;
    }

    std::optional<std::uint64_t> Uleb128()
    {
        std::uint64_t value = 0;
        for (unsigned shift = 0; shift < kBitsInValue; shift += kUlebBitsPerByte) {
            const std::optional<std::uint8_t> next = Byte();
            if (!next) {
                return std::nullopt;
            }
            value |= static_cast<std::uint64_t>(*next & kUlebPayloadBits) << shift;
            if ((*next & kUlebMoreBit) == 0) {
                return value;
            }
        }
        return std::nullopt;  // longer than any 64-bit number
    }

    // The next `count` bytes as a reader of their own; nothing when fewer are left.
    std::optional<TableReader> Take(std::uint64_t count)
    {
        if (count > bytes_.size()) {
            return std::nullopt;
        }
        TableReader taken(bytes_.first(static_cast<std::size_t>(count)));
        bytes_ = bytes_.subspan(static_cast<std::size_t>(count));
        return taken;
    }

private:
    std::span<const std::uint8_t> bytes_;
};

}  // namespace

bool CallSiteTableCovers(std::span<const std::uint8_t> lsda, std::uint64_t offset)
{
    TableReader reader(lsda);
    // GCC measures landing pads from the function's start, and leaves the base out to say so.
    if (reader.Byte() != kEncodingOmitted) {
        return false;
    }
    const std::optional<std::uint8_t> typeEncoding = reader.Byte();
    if (!typeEncoding || (*typeEncoding != kEncodingOmitted && !reader.Uleb128())) {
        return false;
    }
    const std::optional<std::uint64_t> tableBytes =
        reader.Byte() == kEncodingUleb128 ? reader.Uleb128() : std::nullopt;
    std::optional<TableReader> table = tableBytes ? reader.Take(*tableBytes) : std::nullopt;
    if (!table) {
        return false;
    }
    while (!table->AtEnd()) {
        const std::optional<std::uint64_t> start = table->Uleb128();
        const std::optional<std::uint64_t> length = table->Uleb128();
        // The landing pad and the action matter not: any entry lets the exception through.
        if (!start || !length || !table->Uleb128() || !table->Uleb128()) {
            return false;
        }
        // The sites are in ascending order, as the personality relies on.
        if (offset < *start) {
            return false;
        }
        if (offset - *start < *length) {
            return true;
        }
    }
    return false;
}

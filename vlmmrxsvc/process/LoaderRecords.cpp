#include "process/LoaderRecords.h"

#include "platform/ByteFields.h"
#include "platform/Paths.h"

#include <algorithm>
#include <array>
#include <new>
#include <unordered_set>

namespace {

using Record = std::array<std::uint8_t, loader::kEntryBytes>;

// The loader's records and their names lie close together in the process's heap: memory is read
// sixteen pages at a time where the whole block can be read, else a page at a time.
constexpr std::size_t kPageBytes = 0x1000;
constexpr std::size_t kBlockBytes = 0x10000;
constexpr std::size_t kBlocksKept = 8;

// Reads another process's memory a block at a time, and keeps the last blocks it read: every read
// of another process is a call into the system.
class BlockReader {
public:
    explicit BlockReader(const ReadMemory& read) : read_(read) { blocks_.reserve(kBlocksKept); }

    bool operator()(std::uint64_t address, std::span<std::uint8_t> into)
    {
        if (into.empty()) {
            return true;  // an empty name asks for nothing
        }
        const Block* block = Find(address, into.size());
        // A read that no block holds whole (it crosses pages that cannot all be read) asks for
        // just its bytes.
        if (block == nullptr) {
            return read_(address, into);
        }
        const auto offset = static_cast<std::ptrdiff_t>(address - block->address);
        std::copy_n(block->bytes.begin() + offset, into.size(), into.begin());
        return true;
    }

private:
    struct Block {
        std::uint64_t address = 0;
        std::vector<std::uint8_t> bytes;
    };

    static bool Holds(const Block& block, std::uint64_t address, std::size_t size)
    {
        return address >= block.address && address - block.address <= block.bytes.size() &&
               block.bytes.size() - (address - block.address) >= size;
    }

    const Block* Find(std::uint64_t address, std::size_t size)
    {
        const auto held = std::ranges::find_if(
            blocks_, [&](const Block& block) { return Holds(block, address, size); });
        if (held != blocks_.end()) {
            return &*held;
        }
        if (next_ == blocks_.size()) {
            blocks_.emplace_back();
        }
        Block& block = blocks_[next_];  // the oldest, once all are in use
        for (const std::size_t bytes : {kBlockBytes, kPageBytes}) {
            block.address = address & ~std::uint64_t{bytes - 1};
            block.bytes.resize(bytes);
            if (Holds(block, address, size) && read_(block.address, block.bytes)) {
                next_ = (next_ + 1) % kBlocksKept;
                return &block;
            }
        }
        block.bytes.clear();  // holds nothing
        return nullptr;
    }

    const ReadMemory& read_;
    std::vector<Block> blocks_;
    std::size_t next_ = 0;
};

template <typename T>
T Field(const Record& record, std::size_t offset)
{
    return *LoadField<T>(record, offset);  // every field lies inside the record
}

bool ReadNumber(const ReadMemory& read, std::uint64_t address, std::uint64_t& value)
{
    std::array<std::uint8_t, sizeof value> bytes{};
    if (!read(address, bytes)) {
        return false;
    }
    value = *LoadField<std::uint64_t>(bytes, 0);
    return true;
}

std::wstring ReadName(const ReadMemory& read, const Record& record)
{
    const std::size_t units =
        Field<std::uint16_t>(record, loader::kEntryFullDllName) / kUtf16UnitBytes;
    if (units >= kImagePathCharacters) {
        return {};
    }
    std::array<std::uint8_t, kImagePathCharacters * kUtf16UnitBytes> bytes{};
    const std::span<std::uint8_t> name = std::span(bytes).first(units * kUtf16UnitBytes);
    if (!read(Field<std::uint64_t>(record, loader::kEntryFullDllNameBuffer), name)) {
        return {};
    }
    // The loader's names are counted, not terminated: a unit of 0 in one ends it early.
    return LoadUtf16(name);
}

}  // namespace

std::vector<LoadedModule> ReadLoaderList(std::uint64_t pebAddress, const ReadMemory& direct)
{
    std::vector<LoadedModule> modules;
    try {
        BlockReader blocks(direct);
        const ReadMemory read = std::ref(blocks);
        std::uint64_t ldr = 0;
        // A process that is starting has no loader data yet.
        if (!ReadNumber(read, pebAddress + loader::kPebLdr, ldr) || ldr == 0) {
            return modules;
        }
        const std::uint64_t head = ldr + loader::kLdrInLoadOrderList;
        std::uint64_t link = 0;
        if (!ReadNumber(read, head, link)) {
            return modules;
        }
        Record record{};
        std::unordered_set<std::uint64_t> seen;
        while (link != head && link != 0 && modules.size() < kMaxLoaderEntries &&
               seen.insert(link).second && read(link - loader::kEntryInLoadOrderLinks, record)) {
            modules.push_back({Field<std::uint64_t>(record, loader::kEntryDllBase),
                               Field<std::uint32_t>(record, loader::kEntrySizeOfImage),
                               ReadName(read, record)});
            link = Field<std::uint64_t>(record, loader::kEntryInLoadOrderLinks);
        }
    } catch (const std::bad_alloc&) {
        // The modules read so far are examined.
    }
    return modules;
}

std::optional<std::uint64_t> RelocatedBase(const LoadedModule& module,
                                           std::optional<std::uint64_t> fileBase)
{
    if (!fileBase || module.size == 0 || *fileBase == module.base) {
        return std::nullopt;
    }
    return fileBase;
}

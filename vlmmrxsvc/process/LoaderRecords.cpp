#include "process/LoaderRecords.h"

#include "platform/ByteFields.h"
#include "platform/Paths.h"

#include <array>
#include <new>

namespace {

using Record = std::array<std::uint8_t, loader::kEntryBytes>;

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

std::vector<LoadedModule> ReadLoaderList(std::uint64_t pebAddress, const ReadMemory& read)
{
    std::vector<LoadedModule> modules;
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
    try {
        while (link != head && link != 0 && modules.size() < kMaxLoadedModules &&
               read(link - loader::kEntryInLoadOrderLinks, record)) {
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

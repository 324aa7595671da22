#include "process/LoaderRecords.h"

#include "platform/LoaderLayout.h"
#include "platform/Paths.h"

#include <array>
#include <cstring>
#include <new>

namespace {

constexpr std::size_t kUnitBytes = 2;  // names are UTF-16

using Record = std::array<std::uint8_t, loader::kEntryBytes>;

template <typename T>
T Field(const Record& record, std::size_t offset)
{
    T value{};
    std::memcpy(&value, record.data() + offset, sizeof value);
    return value;
}

bool ReadNumber(const ReadMemory& read, std::uint64_t address, std::uint64_t& value)
{
    std::array<std::uint8_t, sizeof value> bytes{};
    if (!read(address, bytes)) {
        return false;
    }
    std::memcpy(&value, bytes.data(), sizeof value);
    return true;
}

std::wstring ReadName(const ReadMemory& read, const Record& record)
{
    const std::size_t units = Field<std::uint16_t>(record, loader::kEntryFullDllName) / kUnitBytes;
    if (units >= kImagePathCharacters) {
        return {};
    }
    std::array<std::uint8_t, kImagePathCharacters * kUnitBytes> bytes{};
    if (!read(Field<std::uint64_t>(record, loader::kEntryFullDllNameBuffer),
              std::span(bytes).first(units * kUnitBytes))) {
        return {};
    }
    std::wstring name(units, L'\0');
    for (std::size_t index = 0; index < units; ++index) {
        std::uint16_t unit = 0;
        std::memcpy(&unit, bytes.data() + index * kUnitBytes, sizeof unit);
        name[index] = static_cast<wchar_t>(unit);
    }
    return name;
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

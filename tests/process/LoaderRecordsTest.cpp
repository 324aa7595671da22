// The walk of the loader's module list over a process memory laid out here, where the byte at
// each address is memory[address], at the offsets that every 64-bit Windows uses; and which of
// the modules discovery records.
#include "image/ImageFileCases.h"
#include "platform/Paths.h"
#include "process/LoaderRecords.h"

#include <gtest/gtest.h>

using namespace image_test;  // Poked, ReadFrom

constexpr std::uint64_t kPeb = 0x100;
constexpr std::uint64_t kLdr = 0x200;
constexpr std::uint64_t kHead = kLdr + loader::kLdrInLoadOrderList;

static std::uint64_t RecordAt(std::size_t index) { return 0x1000 + index * 0x400; }

// One record per module, linked in order back to the head, each name (UTF-16) after its record.
static Image Lay(const std::vector<LoadedModule>& modules)
{
    Image memory = Poked(Poked(Image{}, kPeb + loader::kPebLdr, kLdr), kHead, RecordAt(0));
    for (std::size_t index = 0; index < modules.size(); ++index) {
        const std::uint64_t record = RecordAt(index);
        const std::wstring& path = modules[index].path;
        memory = Poked(memory, record, index + 1 < modules.size() ? RecordAt(index + 1) : kHead);
        memory = Poked(memory, record + loader::kEntryDllBase, modules[index].base);
        memory = Poked(memory, record + loader::kEntrySizeOfImage, modules[index].size);
        memory = Poked(memory, record + loader::kEntryFullDllName, std::uint16_t(path.size() * 2));
        memory = Poked(memory, record + loader::kEntryFullDllNameBuffer, record + 0x100);
        for (std::size_t unit = 0; unit < path.size(); ++unit) {
            memory = Poked(memory, record + 0x100 + unit * 2, std::uint16_t(path[unit]));
        }
    }
    return memory;
}

static std::vector<LoadedModule> Walk(const Image& memory)
{
    return ReadLoaderList(kPeb, [&memory](std::uint64_t address, std::span<std::uint8_t> into) {
        return ReadFrom(memory, address, into) == into.size();
    });
}

TEST(LoaderRecords, GivesTheModulesInListOrderAsFarAsTheyCanBeReadOnceEach)
{
    const std::vector<LoadedModule> modules = {
        {0x7FF812340000, 0x1F0000, L"Z:\\" + std::wstring(kImagePathCharacters - 4, L'n')},
        {1, 1, std::wstring(kImagePathCharacters, L'x')},  // too long: no path
        {2, 2, L"C:\\unreadable.dll"},
        {3, 3, L"C:\\cut.dll"},
    };
    Image memory = Poked(Lay(modules), RecordAt(2) + loader::kEntryFullDllNameBuffer, ~0ull);
    memory.resize(RecordAt(3) + loader::kEntryBytes - 1);  // the last record ends the memory
    const std::vector<LoadedModule> walked = Walk(memory);
    ASSERT_EQ(walked.size(), 3u);
    for (std::size_t index = 0; index < walked.size(); ++index) {
        EXPECT_EQ(walked[index].base, modules[index].base);
        EXPECT_EQ(walked[index].size, modules[index].size);
        EXPECT_EQ(walked[index].path, index < 1 ? modules[index].path : L"");
    }
    // A list that leads in a circle ends at the first record it reaches again. Without loader
    // data (a pointer of 0, even where address 0 could be read as loader data) there is no list.
    const Image circle = Poked(Lay({{1, 1, L""}, {2, 2, L""}}), RecordAt(1), RecordAt(0));
    EXPECT_EQ(Walk(circle).size(), 2u);
    const Image none = Poked(circle, kPeb + loader::kPebLdr, std::uint64_t{0});
    EXPECT_TRUE(Walk(Poked(none, loader::kLdrInLoadOrderList, RecordAt(0))).empty());
    EXPECT_TRUE(Walk(Image(kPeb)).empty());
    // A list longer than any real one is read as far as the bound.
    Image chain = Lay({});
    chain.resize(RecordAt(0) + (kMaxLoaderEntries + 1) * loader::kEntryBytes);
    for (std::uint64_t record = RecordAt(0); record < chain.size(); record += loader::kEntryBytes) {
        chain = Poked(std::move(chain), record, record + loader::kEntryBytes);
    }
    EXPECT_EQ(Walk(chain).size(), kMaxLoaderEntries);
}

TEST(LoaderRecords, AModuleIsRecordedWhenItsFileWantsAnotherBaseEvenOneOfZero)
{
    const LoadedModule loaded{0x7FF800000000, 0x10000, L"C:\\x.dll"};
    EXPECT_EQ(RelocatedBase(loaded, 0x180000000), 0x180000000u);
    EXPECT_EQ(RelocatedBase(loaded, loaded.base), std::nullopt);
    // A file without readable headers was replaced or damaged since it was loaded; one that
    // cannot be opened has no base of its own to compare.
    EXPECT_EQ(RelocatedBase(loaded, 0), 0u);
    EXPECT_EQ(RelocatedBase(loaded, std::nullopt), std::nullopt);
    EXPECT_EQ(RelocatedBase({loaded.base, 0, loaded.path}, 0x180000000), std::nullopt);
}

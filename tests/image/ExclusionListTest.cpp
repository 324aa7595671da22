#include "image/ExclusionList.h"

#include <gtest/gtest.h>

#include <tuple>

constexpr std::uint32_t kNumberType = 4;  // REG_DWORD; any type but text gives its data

TEST(ExclusionList, ListsProgramsByFileNameWithTheirLevelsAndLooksThemUpInAnyCase)
{
    ExclusionList list{{}, 5, 3, kProcessList};  // component default 5, process default 3
    struct Value {
        const wchar_t* name;
        std::uint32_t type;
        std::vector<std::uint8_t> data;
        bool added;  // whether it makes an entry
    };
    const Value values[] = {
        {L"C:\\Program Files\\App\\App.EXE", kNumberType, {0, 0, 0, 0}, true},
        {L"tool.exe", kRegistryTextType, {'1', 0, 0, 0}, true},  // the list's default, not 1
        {L"C:\\first\\dup.exe", kNumberType, {7, 0, 0, 0}, true},
        {L"DUP.EXE", kNumberType, {9, 0, 0, 0}, false},  // the first of two wins
        {L"binary.exe", 3, {2, 1, 0, 0}, true},  // REG_BINARY, little-endian
        {L"long.exe", 3, {1, 0, 0, 0, 0}, false},
        {L"short.exe", kNumberType, {1, 0, 0}, false},
    };
    for (const auto& [name, type, data, added] : values) {
        EXPECT_EQ(AddExclusionEntry(list, name, type, data), added) << name;
    }
    list.defaultProcessLevel = 8;  // the text entry keeps the level it took
    const std::pair<const wchar_t*, std::uint32_t> lookups[] = {
        {L"D:\\elsewhere\\app.exe", 0}, {L"\\\\server\\share\\ApP.eXe", 0}, {L"C:tool.EXE", 3},
        {L"C:/bin/Dup.exe", 7},         {L"binary.exe", 0x102},             {L"app.exe.bak", 8},
    };
    for (const auto& [path, level] : lookups) {
        EXPECT_EQ(GetOptimizationLevel(list, path), level) << path;
    }
    // A list to load afresh keeps only the defaults and the kind.
    const ExclusionList fresh = FreshListFrom(list);
    EXPECT_EQ(std::tuple(fresh.entries.size(), fresh.defaultProcessLevel, fresh.kind),
              std::tuple(0u, 8u, kProcessList));

    // In the component list text takes the component default; before any load no level is set.
    ExclusionList components{{}, 5, 3, kComponentList};
    ASSERT_TRUE(AddExclusionEntry(components, L"C:\\lib\\shared.dll", kRegistryTextType, {}));
    EXPECT_EQ(GetOptimizationLevel(components, L"shared.dll"), 5u);
    EXPECT_EQ(GetOptimizationLevel(ExclusionList{}, L"C:\\any.exe"), 0u);
}

#include "image/ExclusionList.h"

#include "platform/fake/FakePlatform.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using os::fake::FakePlatform;

const std::wstring kServiceKey = L"SOFTWARE\\Velmora\\MRX";
const std::wstring kProcessKey = kServiceKey + L"\\ProcessExclusionList";
const std::wstring kComponentKey = kServiceKey + L"\\ComponentExclusionList";
constexpr DWORD kProcessDefault = 3;
constexpr DWORD kComponentDefault = 5;

std::vector<BYTE> Bytes(std::initializer_list<BYTE> bytes) { return bytes; }

std::vector<std::wstring> NamesOf(const ExclusionList& list)
{
    std::vector<std::wstring> names;
    for (const auto& entry : list.entries) {
        names.push_back(entry.name);
    }
    return names;
}

class ExclusionListTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake.registry.SetDword(HKEY_LOCAL_MACHINE, kServiceKey, L"DefaultProcessOptimizationLevel",
                               kProcessDefault);
        fake.registry.SetDword(HKEY_LOCAL_MACHINE, kServiceKey,
                               L"DefaultComponentOptimizationLevel", kComponentDefault);
    }

    void AddEntry(const std::wstring& key, const std::wstring& name, DWORD level)
    {
        fake.registry.SetDword(HKEY_LOCAL_MACHINE, key, name, level);
    }

    FakePlatform fake;
};

TEST_F(ExclusionListTest, LooksProgramsUpByFileNameWithoutRegardToCaseOrDirectory)
{
    AddEntry(kProcessKey, L"C:\\Program Files\\App\\App.EXE", 0);
    fake.registry.SetString(HKEY_LOCAL_MACHINE, kProcessKey, L"tool.exe", L"12");
    AddEntry(kProcessKey, L"C:\\first\\dup.exe", 7);
    AddEntry(kProcessKey, L"DUP.EXE", 9);
    fake.registry.SetValue(HKEY_LOCAL_MACHINE, kProcessKey, L"binary.exe", REG_BINARY,
                           Bytes({2, 0, 0, 0}));
    fake.registry.SetValue(HKEY_LOCAL_MACHINE, kProcessKey, L"long.exe", REG_BINARY,
                           Bytes({1, 0, 0, 0, 0, 0, 0, 0}));
    fake.registry.SetValue(HKEY_LOCAL_MACHINE, kProcessKey, L"short.exe", REG_BINARY,
                           Bytes({1, 0}));
    AddEntry(kProcessKey, L"unreadable.exe", 1);
    fake.registry.FailQueries(L"unreadable.exe", ERROR_ACCESS_DENIED);

    ExclusionList list;
    ASSERT_TRUE(LoadExclusionList(list, kProcessKey.c_str(), kProcessList));
    EXPECT_EQ(list.kind, kProcessList);
    // Data that is not exactly 4 bytes, or cannot be read, makes no entry.
    EXPECT_EQ(NamesOf(list),
              (std::vector<std::wstring>{L"APP.EXE", L"TOOL.EXE", L"DUP.EXE", L"BINARY.EXE"}));

    const struct {
        const wchar_t* path;
        DWORD level;
    } lookups[] = {
        {L"D:\\elsewhere\\app.exe", 0},
        {L"\\\\server\\share\\ApP.eXe", 0},
        {L"app.exe", 0},
        {L"C:\\bin\\TOOL.exe", kProcessDefault},  // REG_SZ: the list's default, not "12"
        {L"dup.exe", 7},                          // the entry enumerated first
        {L"C:\\binary.exe", 2},
        {L"C:\\long.exe", kProcessDefault},
        {L"C:\\short.exe", kProcessDefault},
        {L"C:\\unreadable.exe", kProcessDefault},
        {L"C:\\unlisted.exe", kProcessDefault},
        {L"C:\\App\\app.exe.bak", kProcessDefault},
    };
    for (const auto& lookup : lookups) {
        EXPECT_EQ(GetOptimizationLevel(list, lookup.path), lookup.level) << lookup.path;
    }
    EXPECT_EQ(fake.OpenResourceCount(), 0u);
}

TEST_F(ExclusionListTest, TextEntriesTakeTheDefaultOfTheirListAndBothListsHoldBothDefaults)
{
    fake.registry.SetString(HKEY_LOCAL_MACHINE, kComponentKey, L"C:\\lib\\shared.dll", L"");
    fake.registry.SetString(HKEY_LOCAL_MACHINE, kProcessKey, L"C:\\bin\\tool.exe", L"");

    ExclusionList components;
    ExclusionList processes;
    ASSERT_TRUE(LoadExclusionList(components, kComponentKey.c_str(), kComponentList));
    ASSERT_TRUE(LoadExclusionList(processes, kProcessKey.c_str(), kProcessList));
    EXPECT_EQ(components.kind, kComponentList);
    ASSERT_EQ(components.entries.size(), 1u);
    EXPECT_EQ(components.entries[0].name, L"SHARED.DLL");
    EXPECT_EQ(components.entries[0].level, kComponentDefault);
    ASSERT_EQ(processes.entries.size(), 1u);
    EXPECT_EQ(processes.entries[0].level, kProcessDefault);
    for (const ExclusionList* list : {&components, &processes}) {
        EXPECT_EQ(list->defaultComponentLevel, kComponentDefault);
        EXPECT_EQ(list->defaultProcessLevel, kProcessDefault);
    }
}

TEST_F(ExclusionListTest, EveryLoadStartsEmptyAndKeepsDefaultsItCannotRead)
{
    AddEntry(kProcessKey, L"gone.exe", 4);
    ExclusionList list;
    ASSERT_TRUE(LoadExclusionList(list, kProcessKey.c_str(), kProcessList));
    ASSERT_EQ(list.entries.size(), 1u);

    fake.registry.DeleteValue(HKEY_LOCAL_MACHINE, kProcessKey, L"gone.exe");
    ASSERT_TRUE(LoadExclusionList(list, kProcessKey.c_str(), kProcessList));  // empty key
    EXPECT_TRUE(list.entries.empty());
    EXPECT_EQ(GetOptimizationLevel(list, L"C:\\gone.exe"), kProcessDefault);

    // Without the service key the defaults stay as they were; without the list key the list is
    // empty and the load says so.
    AddEntry(kProcessKey, L"back.exe", 4);
    ASSERT_TRUE(LoadExclusionList(list, kProcessKey.c_str(), kProcessList));
    fake.registry.DeleteKey(HKEY_LOCAL_MACHINE, kServiceKey);
    EXPECT_FALSE(LoadExclusionList(list, kProcessKey.c_str(), kProcessList));
    EXPECT_TRUE(list.entries.empty());
    EXPECT_EQ(list.defaultProcessLevel, kProcessDefault);
    EXPECT_EQ(list.defaultComponentLevel, kComponentDefault);
    EXPECT_EQ(fake.OpenResourceCount(), 0u);
}

TEST_F(ExclusionListTest, ANewListLeavesEveryProcessAloneUntilConfigured)
{
    const ExclusionList list;
    EXPECT_EQ(list.kind, kListNotLoaded);
    EXPECT_EQ(GetOptimizationLevel(list, L"C:\\any.exe"), 0u);
}

TEST_F(ExclusionListTest, TheDataOfANumberIsReadOnlyInTheThirtyTwoBitView)
{
    fake.registry.SetDword(HKEY_LOCAL_MACHINE, kProcessKey, L"native.exe", 6,
                           os::fake::RegistryView::Native64);
    ExclusionList list;
    EXPECT_FALSE(LoadExclusionList(list, kProcessKey.c_str(), kProcessList));
    EXPECT_EQ(GetOptimizationLevel(list, L"native.exe"), kProcessDefault);
}

}  // namespace

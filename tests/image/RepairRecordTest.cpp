// The repair-pending file's record format and name, and the rules by which its records become the
// worker's known components.
#include "image/KnownComponents.h"
#include "image/RepairRecord.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace {

constexpr std::uint64_t kAllOnes = ~std::uint64_t{0};

RepairRecordBytes Encoded(std::uint64_t loadBase, std::wstring_view component,
                          std::wstring_view process = L"C:\\App\\app.exe",
                          std::wstring_view occupant = L"?")
{
    RepairRecordBytes bytes{};
    EXPECT_TRUE(EncodeRepairRecord(0x1234, loadBase, 0x180000000, component, process, occupant,
                                   bytes));
    return bytes;
}

RepairRecord Decoded(const RepairRecordBytes& bytes)
{
    RepairRecord record;
    EXPECT_TRUE(DecodeRepairRecord(bytes, record));
    return record;
}

TEST(RepairRecord, LaysOutNumbersAndTextsAtTheirOffsetsAndReadsThemBack)
{
    const RepairRecordBytes bytes = Encoded(0x7FF612340000, L"C:\\Lib\\b.dll");
    // Little-endian numbers, then UTF-16LE texts at 24, 546 and 1068.
    EXPECT_EQ((std::vector<int>{bytes[0], bytes[13], bytes[24], bytes[25], bytes[546],
                                bytes[1068], bytes[1589]}),
              (std::vector<int>{0x34, 0x7F, 'C', 0, 'C', '?', 0}));
    const RepairRecord record = Decoded(bytes);
    EXPECT_EQ(std::tie(record.pagefileUsage, record.loadBase, record.preferredBase),
              std::make_tuple(0x1234ull, 0x7FF612340000ull, 0x180000000ull));
    EXPECT_EQ(record.componentPath + record.processPath + record.occupantPath,
              L"C:\\Lib\\b.dllC:\\App\\app.exe?");
    EXPECT_FALSE(record.IsProcessRecord());
    EXPECT_TRUE(Decoded(Encoded(kProcessRecordMark, L"x")).IsProcessRecord());
    EXPECT_FALSE(Decoded(Encoded(kAllOnes, L"x")).IsProcessRecord());
}

TEST(RepairRecord, TakesTextsOfAtMost260CharactersAndFlagsAFieldWithoutTerminator)
{
    RepairRecordBytes bytes{};
    const std::wstring longest(260, L'a');
    EXPECT_TRUE(EncodeRepairRecord(1, 2, 3, longest, L"p", L"o", bytes));
    EXPECT_EQ(Decoded(bytes).componentPath, longest);
    bytes.fill(0xEE);
    EXPECT_FALSE(EncodeRepairRecord(1, 2, 3, longest + L"a", L"p", L"o", bytes));
    EXPECT_EQ(bytes[0], 0xEE);  // untouched

    // Fields without a terminator (a torn record, garbage): flagged, and cut to 260 units.
    RepairRecord record;
    EXPECT_FALSE(DecodeRepairRecord(bytes, record));
    EXPECT_EQ(record.occupantPath.size(), 260u);
    bytes = Encoded(5, L"C:\\a.dll");
    std::fill(bytes.begin() + 1068, bytes.end(), 0x41);
    EXPECT_FALSE(DecodeRepairRecord(bytes, record));
    EXPECT_EQ(record.componentPath, L"C:\\a.dll");
}

TEST(RepairRecord, TheFileIsTheConfiguredOneWith64BeforeItsExtension)
{
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"C:\\Data\\pending.dat", L"C:\\Data\\pending64.dat"},
        {L"C:\\Data\\pending", L"C:\\Data\\pending64"},
        {L"list.bin", L"list64.bin"},
        {L"C:\\a.b\\file", L"C:\\a.b\\file64"},
        {L"C:x.tar.gz", L"C:x.tar64.gz"},
        {L"", L""},
        {L"C:\\" + std::wstring(255, L'n'), L""},  // 260 characters with the suffix
    };
    for (const auto& [configured, used] : cases) {
        EXPECT_EQ(RepairFilePath(configured), used) << configured;
    }
    EXPECT_EQ(NextRecordOffset(0), 0u);
    EXPECT_EQ(NextRecordOffset(1590), 1590u);
    EXPECT_EQ(NextRecordOffset(1591), 3180u);
}

class KnownComponentsLoad : public ::testing::Test {
protected:
    bool Load(std::uint64_t loadBase, std::wstring_view component,
              std::wstring_view process = L"C:\\App\\app.exe")
    {
        RepairRecord record = Decoded(Encoded(loadBase, component, process));
        return known.Load(record, [this](const std::wstring& path) {
            asked.insert(path);
            return missing.count(path) == 0;
        });
    }

    KnownComponents known;
    std::set<std::wstring> asked;
    std::set<std::wstring> missing;
};

TEST_F(KnownComponentsLoad, AComponentKnownAtTheSameAddressStaysAndAnotherAddressReplacesIt)
{
    EXPECT_TRUE(Load(0x10000, L"C:\\Lib\\a.dll"));
    EXPECT_FALSE(Load(0x10000, L"c:\\lib\\A.DLL"));  // the same component after upper-casing
    EXPECT_EQ(known.Count(), 1u);
    EXPECT_TRUE(Load(0x20000, L"C:\\Lib\\a.dll"));
    EXPECT_EQ(known.Count(), 1u);
    EXPECT_FALSE(Load(0x20000, L"C:\\Lib\\a.dll"));  // the later address is the one kept
    EXPECT_TRUE(Load(0x10000, L"C:\\Lib\\a.dll"));
    // Existence is asked with the text as written, comparison is upper-cased.
    EXPECT_TRUE(asked.count(L"c:\\lib\\A.DLL"));
    EXPECT_TRUE(known.IsKnownComponent(L"c:\\LIB\\a.dll"));
    EXPECT_TRUE(known.HasKey(L"C:\\LIB\\A.DLL"));
    EXPECT_FALSE(known.HasKey(L"C:\\Lib\\a.dll"));
}

TEST_F(KnownComponentsLoad, TheFirstProcessRecordStaysAndOnlyTheLowAllOnesMarksOne)
{
    EXPECT_TRUE(Load(kProcessRecordMark, L"ignored", L"C:\\App\\tool.exe"));
    EXPECT_FALSE(Load(kProcessRecordMark, L"ignored", L"c:\\app\\TOOL.exe"));
    EXPECT_TRUE(known.HasKey(L"C:\\APP\\TOOL.EXE"));
    // The 64-bit all-ones value is a component record: its component path is checked and keyed.
    missing.insert(L"C:\\Gone\\x.dll");
    EXPECT_FALSE(Load(kAllOnes, L"C:\\Gone\\x.dll", L"C:\\App\\tool.exe"));
    EXPECT_TRUE(Load(kAllOnes, L"C:\\Lib\\y.dll", L"C:\\App\\tool.exe"));
    EXPECT_TRUE(known.IsKnownComponent(L"C:\\Lib\\y.dll"));
    EXPECT_EQ(known.Count(), 2u);
}

TEST_F(KnownComponentsLoad, PipesAndMissingFilesAreDroppedBeforeAnyKey)
{
    EXPECT_FALSE(Load(1, L"\\\\.\\pipe\\x.dll"));
    EXPECT_FALSE(Load(1, L"C:\\Lib\\a.dll", L"\\\\.\\PiPe\\app.exe"));
    EXPECT_FALSE(Load(kProcessRecordMark, L"p", L"\\\\server\\pipe\\app.exe"));
    missing.insert(L"C:\\Gone\\app.exe");
    EXPECT_FALSE(Load(kProcessRecordMark, L"C:\\Gone\\app.exe", L"C:\\Gone\\app.exe"));
    EXPECT_EQ(known.Count(), 0u);
    EXPECT_FALSE(asked.count(L"\\\\.\\pipe\\x.dll"));
}

}  // namespace

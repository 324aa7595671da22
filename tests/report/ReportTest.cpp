// The report tool's logic over crafted repair-pending files: whole records, torn tails and
// unterminated texts, both record kinds, the formats' quoting and encoding, the collisions, the
// exit code and the rebase plan.
#include "vlmmrxreport/RebasePlan.h"
#include "vlmmrxreport/ReportFormats.h"

#include <gmock/gmock.h>

namespace {

using testing::HasSubstr;
using File = std::vector<std::uint8_t>;

void Append(File& to, std::uint64_t load, std::wstring_view path, std::uint64_t base = 0x180000000)
{
    RepairRecordBytes bytes{};
    EXPECT_TRUE(EncodeRepairRecord(0x1000, load, base, path, L"C:\\app.exe", L"?", bytes));
    to.insert(to.end(), bytes.begin(), bytes.end());
}

TEST(Report, ReadsEveryWholeRecordAndFlagsATornTailAndUnterminatedTexts)
{
    File large;  // more than one read's worth, the last record's occupant unterminated
    while (large.size() < 700 * kRepairRecordBytes) {
        Append(large, 0x10000, L"C:\\a.dll");
    }
    std::fill_n(large.end() - kRepairTextBytes, kRepairTextBytes, 0x41);
    File torn = large;
    torn.resize(large.size() + 7, 0xFF);
    const std::string invalid = "f: the record at offset 1111410 has an unterminated text";
    struct Case {
        File bytes;
        std::size_t records;
        std::vector<std::string> messages;
    };
    const Case cases[] = {
        {File(), 0, {}},
        {File(1589), 0, {"f: 1589 bytes after the last whole record, at offset 0"}},
        {large, 700, {invalid}},
        {torn, 700, {invalid, "f: 7 bytes after the last whole record, at offset 1113000"}}};
    for (const auto& [bytes, records, messages] : cases) {
        const Report report = ReadReport(bytes);
        EXPECT_EQ(report.records.size(), records);
        EXPECT_EQ(DamageMessages("f", report), messages);
        EXPECT_EQ(ExitCodeFor(report), messages.empty() ? kExitClean : kExitDamaged);
    }
}

TEST(Report, FormatsQuoteEscapeAndEncodeTextsNameTheKindsAndListTheCollisions)
{
    File file;
    Append(file, 0x10000, L"C:\\a,\"b\".dll");
    // Only the 32-bit all-ones mark makes a process record; é, a pair, a lone surrogate, a tab, a
    // quote.
    Append(file, ~std::uint64_t{0}, L"C:\\\xE9\xD83D\xDE00\xD800x\t\".dll");
    Append(file, kProcessRecordMark, L"C:\\app.exe", kProcessRecordMark);
    Append(file, 0x30000, L"c:\\A,\"B\".DLL", 0x190000000);  // the first one's file again
    const Report report = ReadReport(file);
    const std::string json = FormatJson(report, nullptr);
    EXPECT_THAT(json, HasSubstr("\"C:\\\\\xC3\xA9\xF0\x9F\x98\x80\xEF\xBF\xBDx\\u0009\\\".dll\""));
    EXPECT_THAT(json, HasSubstr("\"collisions\": [\n    {\"preferredBase\": "
                                "\"0x0000000180000000\", \"records\": [0, 1590]}\n  ]"));
    EXPECT_THAT(FormatCsv(report),
                HasSubstr("\r\n0,component,true,4096,0x0000000000010000,0x0000000180000000,"
                          "\"C:\\a,\"\"b\"\".dll\",C:\\app.exe,?\r\n1590,component,true,4096,"
                          "0xFFFFFFFFFFFFFFFF,"));
    EXPECT_THAT(FormatTable(report, nullptr),
                HasSubstr("\nrecords: 4, component records: 3, process records: 1, invalid "
                          "records: 0, distinct components: 2, bytes after the last whole "
                          "record: 0\n"));
}

TEST(RebasePlan, PlacesReadableRelocatedComponentsAlignedClearOfEveryRecordedRange)
{
    File file;
    Append(file, kPlanFloor, L"C:\\a.dll");                           // loaded on the floor
    Append(file, 0x7FF800000000, L"C:\\b.dll", kPlanFloor + 0x30000);  // wanted a little above
    Append(file, ~std::uint64_t{0} - 0x1000, L"C:\\gone.dll");       // unreadable: not planned
    Append(file, 0x20000, L"C:\\B.DLL");                              // b again: planned once
    const Report report = ReadReport(file);
    // The files' sizes by their names' first letter, found in either case as a file system does.
    const std::vector<PlannedBase> plan = PlanRebase(report, [](const std::wstring& path) {
        return path[3] == L'a' ? 0x12345u : (path[3] | 0x20) == L'b' ? 0x10000u : 0u;
    });
    // a does not fit between its own load range and b's wanted range; b exactly does.
    EXPECT_THAT(FormatJson(report, &plan),
                HasSubstr("\"plan\": [\n    {\"componentPath\": \"C:\\\\a.dll\", "
                          "\"preferredBase\": \"0x0000000180000000\", \"sizeOfImage\": 74565, "
                          "\"plannedBase\": \"0x0000000200040000\"},\n    {\"componentPath\": "
                          "\"C:\\\\b.dll\", \"preferredBase\": \"0x0000000200030000\", "
                          "\"sizeOfImage\": 65536, \"plannedBase\": \"0x0000000200020000\"}\n  ]"));
}

}  // namespace

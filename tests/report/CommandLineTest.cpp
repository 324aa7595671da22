// The report tool's run as an administrator starts it: the spellings of its switches, its exit
// codes, and what its forms write, over real files in a folder of the test's own; and the address
// ranges that its plan searches.
#include "vlmmrxreport/AddressRanges.h"
#include "vlmmrxreport/Options.h"
#include "vlmmrxreport/System.h"
#include "vlmmrxreport/Utf8.h"

#include <gmock/gmock.h>

#include <filesystem>
#include <fstream>

namespace {

using testing::HasSubstr;
namespace fs = std::filesystem;

TEST(ReportCommandLine, TakesTheSpellingsOfAWindowsToolAndNamesWhatItCannotTake)
{
    for (const std::vector<std::string>& spelling :
         {std::vector<std::string>{"--format", "json"}, {"--format=json"}, {"-format", "json"},
          {"/format:json"}, {"/FORMAT", "JSON"}, {"-Format:Json"}}) {
        const ReportOptions options = ParseArguments(spelling);
        EXPECT_EQ(options.format, ReportFormat::kJson) << spelling.front();
        EXPECT_EQ(options.error, "") << spelling.front();
    }
    const ReportOptions many = ParseArguments(
        {"/plan", "--base", "0x300000000", "-o", "out.cmd", "--format", "cmd", "--component",
         "*\\Contoso\\*", "/process:app?.exe", "/srv/fleet", "b.dat"});
    EXPECT_EQ(many.error, "");
    EXPECT_EQ(many.base, 0x300000000u);
    EXPECT_EQ(many.output, "out.cmd");
    EXPECT_EQ(many.inputs, (std::vector<std::string>{"/srv/fleet", "b.dat"}));  // not switches
    EXPECT_TRUE(ParseArguments({"/?"}).help);
    EXPECT_TRUE(ParseArguments({"--VERSION"}).version);
    const struct {
        std::vector<std::string> arguments;
        std::string error;
    } wrong[] = {
        {{"--format"}, "--format takes a value"},
        {{"--format", "xml"}, "--format takes table, csv, json, jsonl, html or cmd"},
        {{"--frmat", "json"}, "unknown switch: --frmat"},
        {{"--base", "0x1234"}, "--base takes a 64 KiB-aligned address, such as 0x200000000"},
        {{"--base", "0x300000000"}, "--base places the plan's new bases: add --plan"},
        {{"--plan", "--format", "jsonl"},
         "jsonl holds records only: write the plan with --format json, csv or cmd"},
        {{"--plan:yes"}, "--plan:yes takes no value"},
    };
    for (const auto& row : wrong) {
        EXPECT_EQ(ParseArguments(row.arguments).error, row.error) << row.arguments.front();
    }
}

TEST(ReportCommandLine, FiltersComponentsAndProcessesByWildcardsInAnyCase)
{
    const RepairRecord record{0, 1, 2, L"C:\\Contoso\\Lib\\Net.dll", L"C:\\Apps\\App1.exe", L"?"};
    const struct {
        std::vector<std::string> arguments;
        bool selected;
    } cases[] = {{{}, true},
                 {{"--component", "net.DLL"}, true},
                 {{"--component", "*\\contoso\\*"}, true},
                 {{"--component", "n?t*"}, true},
                 {{"--component", "*\\Lib"}, false},
                 {{"--process", "app?.exe"}, true},
                 {{"--process", "app??.exe"}, false}};
    for (const auto& row : cases) {
        EXPECT_EQ(Selects(ParseArguments(row.arguments), record), row.selected)
            << testing::PrintToString(row.arguments);
    }
}

// A folder of the test's own, removed at the end, and the tool run on it as a program is run.
class ReportRun : public testing::Test {
protected:
    void SetUp() override
    {
        const std::string test = testing::UnitTest::GetInstance()->current_test_info()->name();
        folder_ = fs::temp_directory_path() /
                  ("vlm-report-" + std::to_string(std::hash<std::string>{}(test)));
        fs::remove_all(folder_);
        fs::create_directories(folder_ / "fleet");
    }
    void TearDown() override { fs::remove_all(folder_); }

    std::string Path(const std::string& name) const { return (folder_ / name).string(); }

    void Write(const std::string& name, const std::vector<std::uint8_t>& bytes) const
    {
        std::ofstream(Path(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }

    static std::vector<std::uint8_t> Records(std::initializer_list<std::wstring_view> components)
    {
        std::vector<std::uint8_t> file;
        for (const std::wstring_view component : components) {
            RepairRecordBytes bytes{};
            EXPECT_TRUE(EncodeRepairRecord(7, 0x10000, 0x180000000, component, L"C:\\app.exe",
                                           L"?", bytes));
            file.insert(file.end(), bytes.begin(), bytes.end());
        }
        return file;
    }

    // The exit code; what the tool wrote goes to output and messages.
    int Run(const std::vector<std::string>& arguments)
    {
        output.clear();
        messages.clear();
        return RunReport(
            arguments, [this](std::string_view text) { return output.append(text), true; },
            [this](std::string_view text) { return messages.append(text), true; });
    }

    std::string Read(const std::string& name) const
    {
        std::ifstream file(Path(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), {});
    }

    std::string output;
    std::string messages;

private:
    fs::path folder_;
};

TEST_F(ReportRun, ExitsWithWhatWentWrongAndWarnsOfARecordTheServiceFilled)
{
    auto filled = Records({L"C:\\a.dll", L"C:\\b.dll"});
    std::fill(filled.begin() + kRepairRecordBytes + kProcessPathOffset, filled.end(), 0xFF);
    auto damaged = Records({L"C:\\a.dll"});
    damaged.push_back(0x41);
    Write("fleet/web01.dat", Records({L"C:\\a.dll"}));
    Write("fleet/web0264.dat", filled);
    Write("damaged.dat", damaged);
    EXPECT_EQ(Run({"--help"}), kExitClean);
    EXPECT_THAT(output, HasSubstr("examples:"));
    EXPECT_EQ(Run({"--version"}), kExitClean);
    EXPECT_EQ(Run({Path("fleet")}), kExitClean);
    EXPECT_THAT(output, HasSubstr("== web02 ("));
    EXPECT_THAT(messages, HasSubstr("web0264.dat: the record at offset 1590 was cut by a torn "
                                    "write and completed with 0xFF bytes by the service"));
    EXPECT_EQ(Run({Path("damaged.dat"), Path("fleet")}), kExitDamaged);
    EXPECT_THAT(messages, HasSubstr("damaged.dat: 1 bytes after the last whole record, at offset "
                                    "1590"));
    EXPECT_EQ(Run({"--bogus"}), kExitUsage);
    EXPECT_EQ(Run({Path("none.dat"), Path("damaged.dat")}), kExitUnreadable);
    EXPECT_THAT(messages, HasSubstr("none.dat: no such file"));
}

TEST_F(ReportRun, WritesCsvAndTablesToAFileWithAByteOrderMarkAndJsonLinesWithoutOne)
{
    const std::wstring longest = L"C:\\" + std::wstring(250, L'x') + L".dll";
    auto file = Records({L"C:\\Prog,ram\\\"q\".dll", L"C:\\Lib\\\xE9t\xE9.dll", longest});
    RepairRecordBytes process{};
    ASSERT_TRUE(EncodeRepairRecord(kProcessRecordMark, kProcessRecordMark, kProcessRecordMark,
                                   L"C:\\app.exe", L"C:\\app.exe", L"C:\\app.exe", process));
    file.insert(file.end(), process.begin(), process.end());
    Write("web01.dat", file);
    ASSERT_EQ(Run({"/format:csv", "-o", Path("out.csv"), Path("web01.dat")}), kExitClean);
    const std::string csv = Read("out.csv");
    EXPECT_TRUE(csv.starts_with("\xEF\xBB\xBF" "offset,kind,valid,pagefileUsage,loadBase,"));
    // Why it cannot be read is the system's answer for a name with quotes in it.
    EXPECT_THAT(csv, HasSubstr(",\"C:\\Prog,ram\\\"\"q\"\".dll\",C:\\app.exe,?,web01,unknown,"));
    EXPECT_THAT(csv, HasSubstr("\r\n4770,process,true,,,,C:\\app.exe,"));
    ASSERT_EQ(Run({"-o", Path("out.txt"), Path("web01.dat")}), kExitClean);
    const std::string table = Read("out.txt");
    EXPECT_TRUE(table.starts_with("\xEF\xBB\xBF" "CLASS "));
    std::size_t widest = 0;  // in characters: the table is one line per record of 120 at most
    for (std::size_t start = 3, end = 0; (end = table.find('\n', start)) != std::string::npos;
         start = end + 1) {
        widest = std::max<std::size_t>(widest, Utf16(table.substr(start, end - start)).size());
    }
    EXPECT_EQ(widest, 120u);
    EXPECT_THAT(table, HasSubstr("\nunknown    0x0000000180000000  0x0000000000010000  -   "
                                 "        C:\\Lib\\\xC3\xA9t\xC3\xA9.dll\n"));
    ASSERT_EQ(Run({"--format", "jsonl", Path("web01.dat")}), kExitClean);
    EXPECT_FALSE(output.starts_with("\xEF"));
    EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 4);
    EXPECT_THAT(output, HasSubstr("{\"offset\": 4770, \"kind\": \"process\", \"valid\": true, "
                                  "\"pagefileUsage\": null, \"loadBase\": null, "
                                  "\"preferredBase\": null, "));
    EXPECT_THAT(output, HasSubstr("\"source\": \"web01\", \"class\": \"unknown\""));
}

TEST(AddressRanges, MergeInBatchesAndLeaveTheLowestAlignedGapAmongSeveralSets)
{
    constexpr std::uint64_t kAlign = 0x10000;
    AddressRanges recorded;
    for (std::uint64_t index = 0; index < 70000; ++index) {  // more than one merge batch
        recorded.Add(0x100000 + index * kAlign, 0x100000 + index * kAlign + 0x8000);
    }
    recorded.Add(0x50000, 0x50000);  // empty: adds nothing
    AddressRanges placed;
    placed.Add(0x20000, 0x40000);
    EXPECT_EQ(LowestFree({&recorded, &placed}, 0x20000, kAlign, kAlign, 0x100000), 0x40000u);
    EXPECT_EQ(LowestFree({&recorded, &placed}, 0x21000, 0x30000, kAlign, 0x100000), 0x40000u);
    EXPECT_EQ(LowestFree({&recorded, &placed}, 0x21000, 0xD0000, kAlign, 0x100000), std::nullopt);
    EXPECT_EQ(recorded.EndOfOverlap(0x108000, 0x110000), std::nullopt);  // between two
    EXPECT_EQ(recorded.EndOfOverlap(0x107FFF, 0x110000), 0x108000u);
    EXPECT_EQ(LowestFree({&recorded}, ~std::uint64_t{0} - 5, kAlign, kAlign, ~std::uint64_t{0}),
              std::nullopt);
}

}  // namespace

// The report tool's command line, and the address ranges that its rebase plan places images in.
#include "vlmmrxreport/AddressRanges.h"
#include "vlmmrxreport/Options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(ReportCommandLine, TakesOneFileAFormatAndThePlanAndNamesWhatItCannotTake)
{
    struct Case {
        std::vector<std::string> arguments;
        std::string error;  // empty: accepted
    };
    const Case cases[] = {
        {{}, ""},
        {{"--format", "json", "--plan", "f.dat"}, ""},
        {{"--format"}, "--format takes table, csv or json"},
        {{"--format", "xml"}, "--format takes table, csv or json"},
        {{"--frmat", "json"}, "unexpected argument: --frmat"},
        {{"a.dat", "b.dat"}, "unexpected argument: b.dat"},
        {{"--plan", "--format", "csv"}, "--plan has no csv form: use --format table or json"},
    };
    for (const Case& row : cases) {
        EXPECT_EQ(ParseArguments(row.arguments).error, row.error) << testing::PrintToString(
            row.arguments);
    }
    const ReportOptions options = ParseArguments({"--format", "json", "--plan", "f.dat"});
    EXPECT_EQ(options.format, ReportFormat::kJson);
    EXPECT_TRUE(options.plan);
    EXPECT_EQ(options.file, "f.dat");
    EXPECT_TRUE(ParseArguments({"--help"}).help);
}

TEST(AddressRanges, MergesTouchingRangesAndFindsTheLowestAlignedGapBelowTheCeiling)
{
    constexpr std::uint64_t kAlign = 0x10000;
    AddressRanges ranges;
    ranges.Add(0x20000, 0x30000);
    ranges.Add(0x30000, 0x40000);  // touches the first: one range [0x20000, 0x40000)
    ranges.Add(0x50000, 0x50000);  // empty: adds nothing
    ranges.Add(0x70000, 0x60000);  // inverted: adds nothing
    EXPECT_EQ(ranges.LowestFree(0x20000, kAlign, kAlign, 0x100000), 0x40000u);
    EXPECT_EQ(ranges.LowestFree(0x10000, kAlign, kAlign, 0x100000), 0x10000u);  // fits before
    EXPECT_EQ(ranges.LowestFree(0x10000, 2 * kAlign, kAlign, 0x100000), 0x40000u);
    EXPECT_EQ(ranges.LowestFree(0x21000, kAlign, kAlign, 0x100000), 0x40000u);  // aligned up
    // The gap must end at or below the ceiling; with no room left there is none.
    EXPECT_EQ(ranges.LowestFree(0x20000, kAlign, kAlign, 0x50000), 0x40000u);
    EXPECT_EQ(ranges.LowestFree(0x20000, 2 * kAlign, kAlign, 0x50000), std::nullopt);
    EXPECT_EQ(ranges.LowestFree(~std::uint64_t{0} - 5, kAlign, kAlign, ~std::uint64_t{0}),
              std::nullopt);
}

}  // namespace

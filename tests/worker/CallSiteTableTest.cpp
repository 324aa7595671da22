// GCC's call-site tables, as the fault guard reads them before it throws a fault from a frame.
#include "worker/CallSiteTable.h"

#include <gtest/gtest.h>

#include <vector>

TEST(CallSiteTable, AnOffsetIsCoveredOnlyInsideAListedSiteOfATableReadWhole)
{
    // No landing-pad base, no type table, ULEB128 sites: [4, 8) and [0x90, 0x90 + 0x81), the
    // second's length in two bytes.
    const std::vector<std::uint8_t> table = {0xFF, 0xFF, 0x01, 10,   4,    4,    0,
                                             0,    0x90, 0x01, 0x81, 0x01, 0x10, 1};
    struct Case {
        const char* name;
        std::vector<std::uint8_t> lsda;
        std::uint64_t offset;
        bool covered;
    };
    std::vector<std::uint8_t> withTypes = table;  // a type table's encoding and offset
    withTypes[1] = 0x9B;
    withTypes.insert(withTypes.begin() + 2, 0x20);
    std::vector<std::uint8_t> otherEncoding = table;
    otherEncoding[2] = 0x03;
    const Case cases[] = {
        {"FirstSite", table, 7, true},           {"BeforeTheFirst", table, 3, false},
        {"BetweenTheSites", table, 8, false},    {"SecondSite", table, 0x90 + 0x80, true},
        {"PastTheLast", table, 0x90 + 0x81, false}, {"WithATypeTable", withTypes, 0x90, true},
        {"OtherEncoding", otherEncoding, 7, false},
        {"LandingPadBaseGiven", {0x00, 0xFF, 0x01, 4, 4, 4, 0, 0}, 5, false},
        {"TableLongerThanTheData", {0xFF, 0xFF, 0x01, 9, 4, 4, 0, 0}, 5, false},
        {"SiteCutShort", {0xFF, 0xFF, 0x01, 3, 4, 4, 0}, 5, false},
        {"NumberThatNeverEnds", {0xFF, 0xFF, 0x01, 0x80, 0x80}, 0, false},
    };
    for (const auto& [name, lsda, offset, covered] : cases) {
        EXPECT_EQ(CallSiteTableCovers(lsda, offset), covered) << name;
    }
}

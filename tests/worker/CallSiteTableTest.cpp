// GCC's call-site tables, as the fault guard reads them before it throws a fault from a frame.
#include "worker/CallSiteTable.h"

#include <gtest/gtest.h>

#include <vector>

TEST(CallSiteTable, AnOffsetIsCoveredOnlyInsideAListedSiteOfATableReadWhole)
{
    // No landing-pad base, a type table's encoding and offset, ULEB128 sites: [4, 8) and
    // [0x90, 0x90 + 0x81), both the second's start and length in two bytes.
    std::vector<std::uint8_t> table = {0xFF, 0x9B, 0x20, 0x01, 10,   4,    4,    0,
                                       0,    0x90, 0x01, 0x81, 0x01, 0x10, 1};
    EXPECT_TRUE(CallSiteTableCovers(table, 7) && CallSiteTableCovers(table, 0x90 + 0x80));
    EXPECT_FALSE(CallSiteTableCovers(table, 3) || CallSiteTableCovers(table, 8) ||
                 CallSiteTableCovers(table, 0x90 + 0x81));
    table[3] = 0x03;  // another call-site encoding
    EXPECT_FALSE(CallSiteTableCovers(table, 7));
    table[3] = 0x01;
    table.resize(table.size() - 1);  // a table longer than the data
    EXPECT_FALSE(CallSiteTableCovers(table, 7));
    EXPECT_FALSE(CallSiteTableCovers(std::vector<std::uint8_t>{0xFF, 0xFF, 0x01, 0x80, 0x80}, 0));
}

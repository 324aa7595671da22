// The memory-load measure through the real kernel32.
#include "worker/ResourceGate.h"

#include <gtest/gtest.h>

namespace {

TEST(WineResourceGate, MeasuresALoadBetweenNothingAndAll)
{
    MemoryStatusCache() = {};
    const double load = GetVirtualMemoryLoad();
    EXPECT_GE(load, 0.0);
    EXPECT_LE(load, 100.0);
    EXPECT_EQ(MemoryStatusCache().kernel32, ::GetModuleHandleW(L"kernel32.dll"));
    EXPECT_NE(MemoryStatusCache().globalMemoryStatusEx, nullptr);
    EXPECT_TRUE(LoadMemoryStatusFunction());
}

}  // namespace

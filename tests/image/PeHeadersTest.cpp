// The header decoding over crafted files, read the way CImageFile reads a file, with the header
// width that IsPE32Plus selects.
#include "image/ImageFileCases.h"

#include <gtest/gtest.h>

TEST(PeHeaders, ReadsTheBaseWithTheWidthThatTheMagicSelects)
{
    for (const auto& [name, bytes, pe32Plus, base] : image_test::CraftedImages()) {
        pe::DosHeader dos[2] = {};
        pe::OptionalHeader64 wide{};
        pe::OptionalHeader32 narrow{};
        const std::uint64_t wideBase = image_test::ReadBase(bytes, dos[0], wide);
        const std::uint64_t narrowBase = image_test::ReadBase(bytes, dos[1], narrow);
        EXPECT_EQ(pe::IsPE32Plus(bytes), pe32Plus) << name;
        EXPECT_EQ(pe32Plus ? wideBase : narrowBase, base) << name;
        EXPECT_TRUE(base != 0 || (wideBase == 0 && narrowBase == 0)) << name;
    }
}

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

TEST(PeHeaders, ReadsTheFactsOfEitherWidthAndASignatureOnlyWhereItsDirectoryExists)
{
    using image_test::Poked;
    constexpr std::size_t kCharacteristics = image_test::kMagicOffset + 70;
    constexpr std::size_t kDirectories64 = image_test::kMagicOffset + 108;
    constexpr std::size_t kSecurity64 = image_test::kMagicOffset + 112 + 4 * 8 + 4;
    // The crafted files are filled with 0xCC: the count of directories says whether the
    // security directory's 0xCC bytes count.
    const auto plus = Poked(Poked(Poked(image_test::MakeImage(true, image_test::kBase64),
                                        image_test::kMagicOffset + 56, std::uint32_t{0x23000}),
                                  kCharacteristics, std::uint16_t{0x0140}),
                            kDirectories64, std::uint32_t{4});
    const auto signedPlus = Poked(Poked(plus, kDirectories64, std::uint32_t{16}), kSecurity64,
                                  std::uint32_t{0x200});
    const auto plain = Poked(Poked(image_test::MakeImage(false, 0x10000000), kCharacteristics,
                                   std::uint16_t{0}),
                             image_test::kMagicOffset + 92, std::uint32_t{0});
    struct Case {
        const char* name;
        image_test::Image bytes;
        bool read;
        bool pe32Plus;
        bool dynamic;
        bool certificate;
    };
    const Case cases[] = {
        {"Pe32PlusDynamicWithASecurityEntryBeyondItsDirectories", plus, true, true, true, false},
        {"Pe32PlusSigned", signedPlus, true, true, true, true},
        {"Pe32Fixed", plain, true, false, false, false},
        {"MagicOfNeitherWidth", Poked(plus, image_test::kMagicOffset, std::uint16_t{0x107}),
         false, false, false, false},
        {"Pe32PlusCut", image_test::Image(plus.begin(), plus.end() - 1), false, false, false,
         false},
    };
    for (const Case& row : cases) {
        const auto read = [&row](std::uint64_t at, std::span<std::uint8_t> into) {
            return image_test::ReadFrom(row.bytes, at, into);
        };
        const auto facts = pe::ReadImageFacts(row.bytes.size(), read);
        ASSERT_EQ(facts.has_value(), row.read) << row.name;
        if (facts) {
            EXPECT_EQ(facts->pe32Plus, row.pe32Plus) << row.name;
            EXPECT_EQ(facts->imageBase, row.pe32Plus ? image_test::kBase64 : 0x10000000)
                << row.name;
            EXPECT_EQ((facts->dllCharacteristics & pe::kDynamicBase) != 0, row.dynamic) << row.name;
            EXPECT_EQ(facts->hasCertificate, row.certificate) << row.name;
        }
    }
}

// Crafted PE files, read by the header decoding natively and by CImageFile as real files under
// Wine. The bytes are laid out here by offset, not with the reader's structures, so that a wrong
// layout in the reader cannot hide itself.
#pragma once

#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace image_test {

inline constexpr std::size_t kNtHeadersOffset = 0x80;
inline constexpr std::size_t kLfanewOffset = 0x3C;
inline constexpr std::size_t kMagicOffset = 24;  // from the NT headers
inline constexpr std::size_t kPe32BaseOffset = kMagicOffset + 28;
inline constexpr std::size_t kPe32PlusBaseOffset = kMagicOffset + 24;
inline constexpr std::size_t kPe32HeadersEnd = kNtHeadersOffset + kMagicOffset + 224;
inline constexpr std::size_t kPe32PlusHeadersEnd = kNtHeadersOffset + kMagicOffset + 240;

inline constexpr std::uint64_t kBase32 = 0x10000000;
inline constexpr std::uint64_t kBase64 = 0x2A0000000;

template <typename T>
void Poke(std::vector<std::uint8_t>& bytes, std::size_t offset, T value)
{
    std::memcpy(bytes.data() + offset, &value, sizeof value);
}

// A file that ends right after the optional header of the given width.
inline std::vector<std::uint8_t> MakeImage(bool pe32Plus, std::uint64_t base)
{
    std::vector<std::uint8_t> bytes(pe32Plus ? kPe32PlusHeadersEnd : kPe32HeadersEnd, 0xCC);
    bytes[0] = 'M';
    bytes[1] = 'Z';
    Poke<std::int32_t>(bytes, kLfanewOffset, kNtHeadersOffset);
    Poke<std::uint32_t>(bytes, kNtHeadersOffset, 0x00004550);
    Poke<std::uint16_t>(bytes, kNtHeadersOffset + kMagicOffset, pe32Plus ? 0x20B : 0x10B);
    if (pe32Plus) {
        Poke<std::uint64_t>(bytes, kNtHeadersOffset + kPe32PlusBaseOffset, base);
    } else {
        Poke<std::uint32_t>(bytes, kNtHeadersOffset + kPe32BaseOffset,
                            static_cast<std::uint32_t>(base));
    }
    return bytes;
}

inline std::vector<std::uint8_t> WithLfanew(std::vector<std::uint8_t> bytes, std::int32_t lfanew)
{
    Poke(bytes, kLfanewOffset, lfanew);
    return bytes;
}

inline std::vector<std::uint8_t> CutTo(std::vector<std::uint8_t> bytes, std::size_t size)
{
    bytes.resize(size);
    return bytes;
}

inline std::vector<std::uint8_t> Padded(std::vector<std::uint8_t> bytes, std::size_t size)
{
    bytes.resize(size, 0);
    return bytes;
}

// A valid signature in the last eight bytes, pointed to by e_lfanew: what follows it is missing.
inline std::vector<std::uint8_t> SignatureInTheLastBytes(std::vector<std::uint8_t> bytes)
{
    const auto offset = bytes.size();
    bytes.insert(bytes.end(), {'P', 'E', 0, 0, 0x64, 0x86, 1, 0});
    return WithLfanew(std::move(bytes), static_cast<std::int32_t>(offset));
}

struct CraftedImage {
    const char* name;
    std::vector<std::uint8_t> bytes;
    bool pe32Plus;    // what IsPE32Plus answers
    std::uint64_t base;   // what the reader it selects answers; 0 means both readers answer 0
};

inline std::vector<CraftedImage> CraftedImages()
{
    const auto plus = MakeImage(true, kBase64);
    const auto plain = MakeImage(false, kBase32);
    const auto size = static_cast<std::int32_t>(plus.size());
    auto badMagic = plus;
    badMagic[1] = 'Y';
    auto badSignature = plus;
    badSignature[kNtHeadersOffset + 3] = 1;
    return {
        {"Pe32PlusWithSections", Padded(plus, 0x400), true, kBase64},
        {"Pe32PlusEndingAtItsOptionalHeader", plus, true, kBase64},
        {"Pe32", Padded(plain, 0x400), false, kBase32},
        {"Pe32EndingAtItsOptionalHeader", plain, false, kBase32},
        {"NoMz", badMagic, false, 0},
        // The Magic still says PE32+; only the reader looks at the signature.
        {"BadNtSignature", badSignature, true, 0},
        {"NtHeadersPastTheEnd", WithLfanew(plus, size + 16), false, 0},
        {"NtHeadersAtTheEnd", WithLfanew(plus, size), false, 0},
        {"NtHeadersInTheLastBytes", SignatureInTheLastBytes(plus), false, 0},
        {"NegativeLfanew", WithLfanew(plus, -4), false, 0},
        {"MostNegativeLfanew", WithLfanew(plus, INT32_MIN), false, 0},
        {"Pe32PlusOptionalHeaderCutByOneByte", CutTo(plus, plus.size() - 1), false, 0},
        // Long enough for a PE32 header, but the Magic announces a longer one: not a PE32 base.
        {"Pe32PlusCutToThePe32Length", CutTo(plus, kPe32HeadersEnd), false, 0},
        {"Pe32OptionalHeaderCutByOneByte", CutTo(plain, plain.size() - 1), false, 0},
        {"FileHeaderCut", CutTo(plus, kNtHeadersOffset + 10), false, 0},
        {"DosHeaderOnly", CutTo(plus, 64), false, 0},
        {"ShorterThanADosHeader", CutTo(plus, 40), false, 0},
    };
}

}  // namespace image_test

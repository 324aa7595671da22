// Crafted PE files: decoded by the unit tests and the fuzz target, and written out as real files
// for CImageFile under Wine. The bytes are laid out here by offset, not with the reader's
// structures, so that a wrong layout in the reader cannot hide itself. Poked and ReadFrom also
// lay out and read the other records that the unit tests decode.
#pragma once

#include "image/PeHeaders.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace image_test {

using Image = std::vector<std::uint8_t>;

inline constexpr std::size_t kLfanewOffset = 0x3C;
inline constexpr std::size_t kNtHeadersOffset = 0x80;
inline constexpr std::size_t kMagicOffset = kNtHeadersOffset + 24;
inline constexpr std::uint64_t kBase64 = 0x2A0000000;

// `bytes` with `value` written at `offset`, grown to hold it.
template <typename T>
Image Poked(Image bytes, std::size_t offset, T value)
{
    bytes.resize(std::max(bytes.size(), offset + sizeof value));
    std::memcpy(bytes.data() + offset, &value, sizeof value);
    return bytes;
}

// A file that ends right after the optional header of the given width: 240 bytes in PE32+, whose
// ImageBase lies 24 bytes into it, 224 in PE32, 28 bytes into it.
inline Image MakeImage(bool pe32Plus, std::uint64_t base)
{
    Image bytes = Poked(Image(kMagicOffset + (pe32Plus ? 240 : 224), 0xCC), 0, 'M' | 'Z' << 8);
    bytes = Poked(bytes, kLfanewOffset, std::int32_t{kNtHeadersOffset});
    bytes = Poked(bytes, kNtHeadersOffset, std::uint32_t{'P' | 'E' << 8});
    bytes = Poked(bytes, kMagicOffset, static_cast<std::uint16_t>(pe32Plus ? 0x20B : 0x10B));
    return pe32Plus ? Poked(bytes, kMagicOffset + 24, base)
                    : Poked(bytes, kMagicOffset + 28, static_cast<std::uint32_t>(base));
}

// Reads `bytes` as a file is read: fewer bytes at its end, none past it; the count delivered.
inline std::size_t ReadFrom(pe::Bytes bytes, std::uint64_t offset, std::span<std::uint8_t> into)
{
    const pe::Bytes rest = bytes.subspan(std::min<std::uint64_t>(offset, bytes.size()));
    const std::size_t count = std::min(into.size(), rest.size());
    std::copy_n(rest.begin(), count, into.begin());
    return count;
}

// The base that the reader of `Optional` finds in `file`, with `dos` as an earlier read left it.
template <typename Optional>
std::uint64_t ReadBase(pe::Bytes file, pe::DosHeader& dos, Optional& optional)
{
    const auto read = [file](std::uint64_t at, auto into) { return ReadFrom(file, at, into); };
    pe::FileHeader header{};
    return pe::ReadImageBase(file.size(), read, dos, header, optional);
}

struct CraftedImage {
    const char* name;
    Image bytes;
    bool pe32Plus;       // what IsPE32Plus answers
    std::uint64_t base;  // what the reader that it selects answers (0: both readers answer 0)
};

inline std::vector<CraftedImage> CraftedImages()
{
    const Image plus = MakeImage(true, kBase64);
    const Image plain = MakeImage(false, 0x10000000);
    return {
        {"Pe32PlusEndingAtItsOptionalHeader", plus, true, kBase64},
        {"Pe32EndingAtItsOptionalHeader", plain, false, 0x10000000},
        {"Pe32WithSections", Poked(plain, 0x3FF, '\0'), false, 0x10000000},
        {"NoMz", Poked(plus, 1, 'Y'), false, 0},
        // The Magic still says PE32+; only the reader looks at the signature.
        {"BadNtSignature", Poked(plus, kNtHeadersOffset + 3, '\1'), true, 0},
        {"NtHeadersAtTheEnd", Poked(plus, kLfanewOffset, std::int32_t(plus.size())), false, 0},
        {"MostNegativeLfanew", Poked(plus, kLfanewOffset, INT32_MIN), false, 0},
        {"Pe32PlusOptionalHeaderCutByOneByte", Image(plus.begin(), plus.end() - 1), false, 0},
        // Long enough for a PE32 header, but the Magic announces a longer one: not a PE32 base.
        {"Pe32PlusCutToThePe32Length", Image(plus.begin(), plus.end() - (240 - 224)), false, 0},
        {"Pe32OptionalHeaderCutByOneByte", Image(plain.begin(), plain.end() - 1), false, 0},
        {"ShorterThanADosHeader", Image(plus.begin(), plus.begin() + 40), false, 0},
    };
}

}  // namespace image_test

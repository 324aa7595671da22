// Feeds arbitrary bytes to the PE header decoding (as a file, through a reader that delivers fewer
// bytes at its end, with both header widths, and whole to IsPE32Plus) and checks every answer
// against a second reading of the same bytes, written here by the published offsets. A decoder
// that reads a wrong offset or width, trusts a header cut short or reads past the bytes (the
// sanitizers) stops the run.
#include "image/ImageFileCases.h"

#include <cstdlib>

namespace {

bool Holds(pe::Bytes file, std::size_t offset, std::size_t bytes)
{
    return offset <= file.size() && file.size() - offset >= bytes;
}

// The little-endian number of `width` bytes at `offset`, or nothing when they are not all there.
std::optional<std::uint64_t> Number(pe::Bytes file, std::size_t offset, std::size_t width)
{
    if (!Holds(file, offset, width)) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (std::size_t index = width; index-- > 0;) {
        value = value << 8 | file[offset + index];
    }
    return value;
}

// The base that a reader of an optional header of `headerBytes` must find, and whether the file is
// PE32+ as IsPE32Plus sees it: "MZ", e_lfanew inside the file, then for the base the signature
// "PE\0\0" and the longer of the reader's header and the one its Magic announces. Nothing when
// the headers do not decode.
std::optional<std::uint64_t> ExpectedBase(pe::Bytes file, std::size_t headerBytes, bool& pe32Plus)
{
    pe32Plus = false;
    const auto lfanew = Number(file, 0x3C, 4);
    if (file.size() < 64 || Number(file, 0, 2) != 0x5A4D || !lfanew ||
        static_cast<std::int32_t>(*lfanew) < 0 || *lfanew >= file.size()) {
        return std::nullopt;
    }
    const std::size_t magicAt = *lfanew + 24;
    const auto magic = Number(file, magicAt, 2);
    pe32Plus = magic == 0x20B && Holds(file, magicAt, 240);
    const std::size_t announced = magic == 0x10B ? 224 : magic == 0x20B ? 240 : 0;
    if (Number(file, *lfanew, 4) != 0x4550 ||
        !Holds(file, magicAt, std::max(headerBytes, announced))) {
        return std::nullopt;
    }
    return headerBytes == 240 ? *Number(file, magicAt + 24, 8) : *Number(file, magicAt + 28, 4);
}

std::uint64_t Expected(pe::Bytes file, std::size_t headerBytes, bool& pe32Plus)
{
    return ExpectedBase(file, headerBytes, pe32Plus).value_or(0);
}

// The facts that ReadImageFacts must find, by the same offsets: the width its Magic announces.
std::optional<pe::ImageFacts> ExpectedFacts(pe::Bytes file)
{
    bool ignored = false;
    const auto lfanew = Number(file, 0x3C, 4);
    const std::size_t magicAt = (lfanew ? *lfanew : 0) + 24;
    const auto magic = Number(file, magicAt, 2);
    const std::size_t width = magic == 0x20B ? 240 : 224;
    const auto base = ExpectedBase(file, width, ignored);
    if ((magic != 0x10B && magic != 0x20B) || !base) {
        return std::nullopt;
    }
    pe::ImageFacts facts;
    facts.pe32Plus = width == 240;
    facts.imageBase = *base;
    facts.sizeOfImage = static_cast<std::uint32_t>(*Number(file, magicAt + 56, 4));
    facts.dllCharacteristics = static_cast<std::uint16_t>(*Number(file, magicAt + 70, 2));
    const std::size_t directories = magicAt + (facts.pe32Plus ? 108 : 92);
    facts.hasCertificate = *Number(file, directories, 4) > 4 &&
                           *Number(file, directories + 4 + 4 * 8 + 4, 4) != 0;
    return facts;
}

bool SameFacts(const std::optional<pe::ImageFacts>& left,
               const std::optional<pe::ImageFacts>& right)
{
    if (!left || !right) {
        return !left && !right;
    }
    return left->pe32Plus == right->pe32Plus && left->imageBase == right->imageBase &&
           left->sizeOfImage == right->sizeOfImage &&
           left->dllCharacteristics == right->dllCharacteristics &&
           left->hasCertificate == right->hasCertificate;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const pe::Bytes file(data, size);
    pe::DosHeader dos{};
    pe::OptionalHeader64 wide{};
    pe::OptionalHeader32 narrow{};
    // The second width reuses the DOS header that the first read, as CImageFile does.
    const std::uint64_t wideBase = image_test::ReadBase(file, dos, wide);
    const std::uint64_t narrowBase = image_test::ReadBase(file, dos, narrow);
    bool pe32Plus = false;
    if (wideBase != Expected(file, 240, pe32Plus) || narrowBase != Expected(file, 224, pe32Plus) ||
        pe::IsPE32Plus(file) != pe32Plus) {
        std::abort();
    }
    const auto read = [file](std::uint64_t at, auto into) {
        return image_test::ReadFrom(file, at, into);
    };
    if (!SameFacts(pe::ReadImageFacts(file.size(), read), ExpectedFacts(file))) {
        std::abort();
    }
    return 0;
}

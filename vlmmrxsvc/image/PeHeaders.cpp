#include "image/PeHeaders.h"

#include "platform/ByteFields.h"

#include <algorithm>

namespace pe {
namespace {

// The length of the optional header that `magic` announces; 0 for a Magic of neither width.
std::size_t AnnouncedOptionalHeaderSize(std::uint16_t magic)
{
    switch (magic) {
    case kPe32Magic:
        return sizeof(OptionalHeader32);
    case kPe32PlusMagic:
        return sizeof(OptionalHeader64);
    default:
        return 0;
    }
}

}  // namespace

bool DecodeDosHeader(Bytes bytes, DosHeader& header)
{
    const std::optional<DosHeader> decoded = LoadField<DosHeader>(bytes, 0);
    if (!decoded) {
        return false;
    }
    header = *decoded;
    return true;
}

bool HasDosMagic(const DosHeader& header) { return header.magic == kDosMagic; }

bool NtHeadersStartInside(const DosHeader& header, std::uint64_t fileSize)
{
    return header.ntHeadersOffset >= 0 &&
           static_cast<std::uint64_t>(header.ntHeadersOffset) < fileSize;
}

template <typename Optional>
bool DecodeNtHeaders(Bytes bytes, FileHeader& fileHeader, Optional& optional)
{
    const auto signature = LoadField<std::uint32_t>(bytes, 0);
    const auto magic = LoadField<std::uint16_t>(bytes, kOptionalHeaderOffset);
    if (signature != kNtSignature || !magic) {
        return false;
    }
    const std::size_t optionalSize =
        std::max(sizeof(Optional), AnnouncedOptionalHeaderSize(*magic));
    const auto decodedFile = LoadField<FileHeader>(bytes, kFileHeaderOffset);
    const auto decodedOptional = LoadField<Optional>(bytes, kOptionalHeaderOffset);
    if (!FitsAt(bytes.size(), kOptionalHeaderOffset, optionalSize) || !decodedFile ||
        !decodedOptional) {
        return false;
    }
    fileHeader = *decodedFile;
    optional = *decodedOptional;
    return true;
}

template bool DecodeNtHeaders<OptionalHeader32>(Bytes, FileHeader&, OptionalHeader32&);
template bool DecodeNtHeaders<OptionalHeader64>(Bytes, FileHeader&, OptionalHeader64&);

template <typename Optional>
std::uint64_t ReadImageBase(std::uint64_t fileSize, const ReadAt& read, DosHeader& dos,
                            FileHeader& file, Optional& optional)
{
    if (!HasDosMagic(dos)) {
        std::uint8_t bytes[sizeof(DosHeader)] = {};
        const std::size_t delivered = read(0, bytes);
        if (!DecodeDosHeader(Bytes(bytes, delivered), dos) || !HasDosMagic(dos)) {
            return 0;
        }
    }
    if (!NtHeadersStartInside(dos, fileSize)) {
        return 0;
    }
    std::uint8_t bytes[kLargestNtHeaders] = {};
    const std::size_t delivered = read(static_cast<std::uint64_t>(dos.ntHeadersOffset), bytes);
    if (!DecodeNtHeaders(Bytes(bytes, delivered), file, optional)) {
        return 0;
    }
    return optional.imageBase;
}

template std::uint64_t ReadImageBase<OptionalHeader32>(std::uint64_t, const ReadAt&, DosHeader&,
                                                       FileHeader&, OptionalHeader32&);
template std::uint64_t ReadImageBase<OptionalHeader64>(std::uint64_t, const ReadAt&, DosHeader&,
                                                       FileHeader&, OptionalHeader64&);

namespace {

template <typename Optional>
ImageFacts FactsOf(const Optional& optional)
{
    ImageFacts facts;
    facts.pe32Plus = optional.magic == kPe32PlusMagic;
    facts.imageBase = optional.imageBase;
    facts.sizeOfImage = optional.sizeOfImage;
    facts.dllCharacteristics = optional.dllCharacteristics;
    facts.hasCertificate = optional.numberOfRvaAndSizes > kSecurityDirectory &&
                           optional.dataDirectory[kSecurityDirectory].size != 0;
    return facts;
}

// The facts through the reader of `Optional`, which refuses headers cut short.
template <typename Optional>
std::optional<ImageFacts> FactsThrough(std::uint64_t fileSize, const ReadAt& read, DosHeader& dos)
{
    FileHeader file{};
    Optional optional{};
    static_cast<void>(ReadImageBase(fileSize, read, dos, file, optional));
    if (optional.magic != kPe32Magic && optional.magic != kPe32PlusMagic) {
        return std::nullopt;  // no header decoded, or one of neither width
    }
    return FactsOf(optional);
}

}  // namespace

std::optional<ImageFacts> ReadImageFacts(std::uint64_t fileSize, const ReadAt& read)
{
    DosHeader dos{};
    // The narrower reader first: it decodes a header of either width that is whole, and its
    // Magic says whether the wider one must read it again.
    const std::optional<ImageFacts> narrow = FactsThrough<OptionalHeader32>(fileSize, read, dos);
    if (!narrow || !narrow->pe32Plus) {
        return narrow;
    }
    return FactsThrough<OptionalHeader64>(fileSize, read, dos);
}

bool IsPE32Plus(Bytes image)
{
    DosHeader header{};
    if (!DecodeDosHeader(image, header) || !HasDosMagic(header) ||
        !NtHeadersStartInside(header, image.size())) {
        return false;
    }
    const Bytes ntHeaders = image.subspan(static_cast<std::size_t>(header.ntHeadersOffset));
    const auto optional = LoadField<OptionalHeader64>(ntHeaders, kOptionalHeaderOffset);
    return optional && optional->magic == kPe32PlusMagic;
}

}  // namespace pe

#include "image/PeHeaders.h"

#include <algorithm>
#include <cstring>

namespace pe {
namespace {

// Copies a T from `offset` in `bytes`; false when it would run past the end.
template <typename T>
bool CopyAt(Bytes bytes, std::size_t offset, T& out)
{
    if (offset > bytes.size() || bytes.size() - offset < sizeof(T)) {
        return false;
    }
    std::memcpy(&out, bytes.data() + offset, sizeof(T));
    return true;
}

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

bool DecodeDosHeader(Bytes bytes, DosHeader& header) { return CopyAt(bytes, 0, header); }

bool HasDosMagic(const DosHeader& header) { return header.magic == kDosMagic; }

bool NtHeadersStartInside(const DosHeader& header, std::uint64_t fileSize)
{
    return header.ntHeadersOffset >= 0 &&
           static_cast<std::uint64_t>(header.ntHeadersOffset) < fileSize;
}

template <typename Optional>
bool DecodeNtHeaders(Bytes bytes, FileHeader& fileHeader, Optional& optional)
{
    std::uint32_t signature = 0;
    std::uint16_t magic = 0;
    if (!CopyAt(bytes, 0, signature) || signature != kNtSignature ||
        !CopyAt(bytes, kOptionalHeaderOffset, magic)) {
        return false;
    }
    const std::size_t optionalSize = std::max(sizeof(Optional), AnnouncedOptionalHeaderSize(magic));
    if (bytes.size() - kOptionalHeaderOffset < optionalSize) {
        return false;
    }
    return CopyAt(bytes, kFileHeaderOffset, fileHeader) &&
           CopyAt(bytes, kOptionalHeaderOffset, optional);
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

std::uint32_t ReadSizeOfImage(std::uint64_t fileSize, const ReadAt& read)
{
    static_assert(offsetof(OptionalHeader32, sizeOfImage) ==
                  offsetof(OptionalHeader64, sizeOfImage));
    DosHeader dos{};
    FileHeader file{};
    // The narrower reader, which still refuses a PE32+ header cut short, holds the field of both.
    OptionalHeader32 optional{};
    static_cast<void>(ReadImageBase(fileSize, read, dos, file, optional));
    return optional.sizeOfImage;
}

bool IsPE32Plus(Bytes image)
{
    DosHeader header{};
    if (!DecodeDosHeader(image, header) || !HasDosMagic(header) ||
        !NtHeadersStartInside(header, image.size())) {
        return false;
    }
    const Bytes ntHeaders = image.subspan(static_cast<std::size_t>(header.ntHeadersOffset));
    OptionalHeader64 optional{};
    return CopyAt(ntHeaders, kOptionalHeaderOffset, optional) && optional.magic == kPe32PlusMagic;
}

}  // namespace pe

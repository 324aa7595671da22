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
std::size_t AnnouncedOptionalHeaderSize(WORD magic)
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

bool NtHeadersStartInside(const DosHeader& header, ULONGLONG fileSize)
{
    return header.ntHeadersOffset >= 0 &&
           static_cast<ULONGLONG>(header.ntHeadersOffset) < fileSize;
}

template <typename Optional>
bool DecodeNtHeaders(Bytes bytes, FileHeader& fileHeader, Optional& optional)
{
    DWORD signature = 0;
    WORD magic = 0;
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

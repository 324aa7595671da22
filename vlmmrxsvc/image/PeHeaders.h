// The PE headers that the image reader looks at, and their decoding from bounded byte spans.
//
// The layouts are our own fixed-width copies of the published format (the same bytes on every
// platform, so that the host build and a fuzzer see what Windows sees). Nothing here reads past
// the span it is given: a span that ends inside a header is a failure, never a longer read.
#pragma once

#include "platform/WinTypes.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>

namespace pe {

static_assert(std::endian::native == std::endian::little,
              "headers are copied byte for byte from the little-endian file");

inline constexpr WORD kDosMagic = 0x5A4D;            // "MZ"
inline constexpr DWORD kNtSignature = 0x00004550;    // "PE\0\0"
inline constexpr WORD kPe32Magic = 0x10B;
inline constexpr WORD kPe32PlusMagic = 0x20B;
inline constexpr std::size_t kDataDirectoryCount = 16;

struct DosHeader {
    WORD magic;
    WORD bytesOnLastPage;
    WORD pages;
    WORD relocations;
    WORD headerParagraphs;
    WORD minimumExtraParagraphs;
    WORD maximumExtraParagraphs;
    WORD initialSs;
    WORD initialSp;
    WORD checksum;
    WORD initialIp;
    WORD initialCs;
    WORD relocationTableOffset;
    WORD overlay;
    WORD reserved[4];
    WORD oemId;
    WORD oemInfo;
    WORD reserved2[10];
    std::int32_t ntHeadersOffset;  // e_lfanew: from the start of the file, signed
};

struct FileHeader {
    WORD machine;
    WORD numberOfSections;
    DWORD timeDateStamp;
    DWORD pointerToSymbolTable;
    DWORD numberOfSymbols;
    WORD sizeOfOptionalHeader;
    WORD characteristics;
};

struct DataDirectory {
    DWORD virtualAddress;
    DWORD size;
};

struct OptionalHeader32 {
    WORD magic;
    BYTE majorLinkerVersion;
    BYTE minorLinkerVersion;
    DWORD sizeOfCode;
    DWORD sizeOfInitializedData;
    DWORD sizeOfUninitializedData;
    DWORD addressOfEntryPoint;
    DWORD baseOfCode;
    DWORD baseOfData;
    DWORD imageBase;
    DWORD sectionAlignment;
    DWORD fileAlignment;
    WORD majorOperatingSystemVersion;
    WORD minorOperatingSystemVersion;
    WORD majorImageVersion;
    WORD minorImageVersion;
    WORD majorSubsystemVersion;
    WORD minorSubsystemVersion;
    DWORD win32VersionValue;
    DWORD sizeOfImage;
    DWORD sizeOfHeaders;
    DWORD checkSum;
    WORD subsystem;
    WORD dllCharacteristics;
    DWORD sizeOfStackReserve;
    DWORD sizeOfStackCommit;
    DWORD sizeOfHeapReserve;
    DWORD sizeOfHeapCommit;
    DWORD loaderFlags;
    DWORD numberOfRvaAndSizes;
    DataDirectory dataDirectory[kDataDirectoryCount];
};

struct OptionalHeader64 {
    WORD magic;
    BYTE majorLinkerVersion;
    BYTE minorLinkerVersion;
    DWORD sizeOfCode;
    DWORD sizeOfInitializedData;
    DWORD sizeOfUninitializedData;
    DWORD addressOfEntryPoint;
    DWORD baseOfCode;
    ULONGLONG imageBase;
    DWORD sectionAlignment;
    DWORD fileAlignment;
    WORD majorOperatingSystemVersion;
    WORD minorOperatingSystemVersion;
    WORD majorImageVersion;
    WORD minorImageVersion;
    WORD majorSubsystemVersion;
    WORD minorSubsystemVersion;
    DWORD win32VersionValue;
    DWORD sizeOfImage;
    DWORD sizeOfHeaders;
    DWORD checkSum;
    WORD subsystem;
    WORD dllCharacteristics;
    ULONGLONG sizeOfStackReserve;
    ULONGLONG sizeOfStackCommit;
    ULONGLONG sizeOfHeapReserve;
    ULONGLONG sizeOfHeapCommit;
    DWORD loaderFlags;
    DWORD numberOfRvaAndSizes;
    DataDirectory dataDirectory[kDataDirectoryCount];
};

static_assert(sizeof(DosHeader) == 64);
static_assert(offsetof(DosHeader, ntHeadersOffset) == 0x3C);
static_assert(sizeof(FileHeader) == 20);
static_assert(sizeof(OptionalHeader32) == 224);
static_assert(offsetof(OptionalHeader32, imageBase) == 28);
static_assert(sizeof(OptionalHeader64) == 240);
static_assert(offsetof(OptionalHeader64, imageBase) == 24);

// From the start of the NT headers: the signature, then the file header, then the optional header.
inline constexpr std::size_t kFileHeaderOffset = sizeof(DWORD);
inline constexpr std::size_t kOptionalHeaderOffset = kFileHeaderOffset + sizeof(FileHeader);
// The most that either reader needs from the start of the NT headers.
inline constexpr std::size_t kLargestNtHeaders = kOptionalHeaderOffset + sizeof(OptionalHeader64);

using Bytes = std::span<const BYTE>;

// Copies the DOS header from the start of `bytes` into `header`. False, with `header` untouched,
// when `bytes` is shorter than a DOS header; true otherwise, whatever the header holds.
[[nodiscard]] bool DecodeDosHeader(Bytes bytes, DosHeader& header);

// Whether `header` carries the "MZ" magic.
[[nodiscard]] bool HasDosMagic(const DosHeader& header);

// Whether the NT headers that `header` points to start inside a file of `fileSize` bytes
// (e_lfanew neither negative nor at or past the end). What follows the start is checked by the
// decoders below against what the file delivered.
[[nodiscard]] bool NtHeadersStartInside(const DosHeader& header, ULONGLONG fileSize);

// Decodes the NT headers from `bytes`, which holds what the file has from e_lfanew on (cut short
// where the file ends), for the reader of `Optional` (OptionalHeader32 or OptionalHeader64).
// False, with both outputs untouched, when the signature is not "PE\0\0" or the bytes end before
// the end of the optional header: the reader's own, or the one that its Magic announces when that
// is longer (a cut PE32+ header read as PE32 would otherwise give a base from the wrong field).
// The Magic itself does not choose the reader: that is the caller's choice.
template <typename Optional>
[[nodiscard]] bool DecodeNtHeaders(Bytes bytes, FileHeader& fileHeader, Optional& optional);

extern template bool DecodeNtHeaders<OptionalHeader32>(Bytes, FileHeader&, OptionalHeader32&);
extern template bool DecodeNtHeaders<OptionalHeader64>(Bytes, FileHeader&, OptionalHeader64&);

// Of a whole file held in `image`: true when it begins with "MZ" and the optional header at
// e_lfanew + 24 has the PE32+ Magic and lies wholly inside `image`. The NT signature is not
// looked at (the reader checks it).
[[nodiscard]] bool IsPE32Plus(Bytes image);

}  // namespace pe

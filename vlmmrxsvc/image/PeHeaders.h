// The PE headers that the image reader looks at, and their decoding from bounded byte spans.
//
// The layouts are our own fixed-width copies of the published format (the same bytes on every
// platform, so that the host build and a fuzzer see what Windows sees). Nothing here reads past
// the span it is given: a span that ends inside a header is a failure, never a longer read.
#pragma once

#include "platform/ByteFields.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

namespace pe {

inline constexpr std::uint16_t kDosMagic = 0x5A4D;            // "MZ"
inline constexpr std::uint32_t kNtSignature = 0x00004550;    // "PE\0\0"
inline constexpr std::uint16_t kPe32Magic = 0x10B;
inline constexpr std::uint16_t kPe32PlusMagic = 0x20B;
inline constexpr std::size_t kDataDirectoryCount = 16;

struct DosHeader {
    std::uint16_t magic;
    std::uint16_t bytesOnLastPage;
    std::uint16_t pages;
    std::uint16_t relocations;
    std::uint16_t headerParagraphs;
    std::uint16_t minimumExtraParagraphs;
    std::uint16_t maximumExtraParagraphs;
    std::uint16_t initialSs;
    std::uint16_t initialSp;
    std::uint16_t checksum;
    std::uint16_t initialIp;
    std::uint16_t initialCs;
    std::uint16_t relocationTableOffset;
    std::uint16_t overlay;
    std::uint16_t reserved[4];
    std::uint16_t oemId;
    std::uint16_t oemInfo;
    std::uint16_t reserved2[10];
    std::int32_t ntHeadersOffset;  // e_lfanew: from the start of the file, signed
};

struct FileHeader {
    std::uint16_t machine;
    std::uint16_t numberOfSections;
    std::uint32_t timeDateStamp;
    std::uint32_t pointerToSymbolTable;
    std::uint32_t numberOfSymbols;
    std::uint16_t sizeOfOptionalHeader;
    std::uint16_t characteristics;
};

struct DataDirectory {
    std::uint32_t virtualAddress;
    std::uint32_t size;
};

struct OptionalHeader32 {
    std::uint16_t magic;
    std::uint8_t majorLinkerVersion;
    std::uint8_t minorLinkerVersion;
    std::uint32_t sizeOfCode;
    std::uint32_t sizeOfInitializedData;
    std::uint32_t sizeOfUninitializedData;
    std::uint32_t addressOfEntryPoint;
    std::uint32_t baseOfCode;
    std::uint32_t baseOfData;
    std::uint32_t imageBase;
    std::uint32_t sectionAlignment;
    std::uint32_t fileAlignment;
    std::uint16_t majorOperatingSystemVersion;
    std::uint16_t minorOperatingSystemVersion;
    std::uint16_t majorImageVersion;
    std::uint16_t minorImageVersion;
    std::uint16_t majorSubsystemVersion;
    std::uint16_t minorSubsystemVersion;
    std::uint32_t win32VersionValue;
    std::uint32_t sizeOfImage;
    std::uint32_t sizeOfHeaders;
    std::uint32_t checkSum;
    std::uint16_t subsystem;
    std::uint16_t dllCharacteristics;
    std::uint32_t sizeOfStackReserve;
    std::uint32_t sizeOfStackCommit;
    std::uint32_t sizeOfHeapReserve;
    std::uint32_t sizeOfHeapCommit;
    std::uint32_t loaderFlags;
    std::uint32_t numberOfRvaAndSizes;
    DataDirectory dataDirectory[kDataDirectoryCount];
};

struct OptionalHeader64 {
    std::uint16_t magic;
    std::uint8_t majorLinkerVersion;
    std::uint8_t minorLinkerVersion;
    std::uint32_t sizeOfCode;
    std::uint32_t sizeOfInitializedData;
    std::uint32_t sizeOfUninitializedData;
    std::uint32_t addressOfEntryPoint;
    std::uint32_t baseOfCode;
    std::uint64_t imageBase;
    std::uint32_t sectionAlignment;
    std::uint32_t fileAlignment;
    std::uint16_t majorOperatingSystemVersion;
    std::uint16_t minorOperatingSystemVersion;
    std::uint16_t majorImageVersion;
    std::uint16_t minorImageVersion;
    std::uint16_t majorSubsystemVersion;
    std::uint16_t minorSubsystemVersion;
    std::uint32_t win32VersionValue;
    std::uint32_t sizeOfImage;
    std::uint32_t sizeOfHeaders;
    std::uint32_t checkSum;
    std::uint16_t subsystem;
    std::uint16_t dllCharacteristics;
    std::uint64_t sizeOfStackReserve;
    std::uint64_t sizeOfStackCommit;
    std::uint64_t sizeOfHeapReserve;
    std::uint64_t sizeOfHeapCommit;
    std::uint32_t loaderFlags;
    std::uint32_t numberOfRvaAndSizes;
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
inline constexpr std::size_t kFileHeaderOffset = sizeof(std::uint32_t);
inline constexpr std::size_t kOptionalHeaderOffset = kFileHeaderOffset + sizeof(FileHeader);
// The most that either reader needs from the start of the NT headers.
inline constexpr std::size_t kLargestNtHeaders = kOptionalHeaderOffset + sizeof(OptionalHeader64);

using Bytes = ByteSpan;

// Copies the DOS header from the start of `bytes` into `header`. False, with `header` untouched,
// when `bytes` is shorter than a DOS header; true otherwise, whatever the header holds.
[[nodiscard]] bool DecodeDosHeader(Bytes bytes, DosHeader& header);

// Whether `header` carries the "MZ" magic.
[[nodiscard]] bool HasDosMagic(const DosHeader& header);

// Whether the NT headers that `header` points to start inside a file of `fileSize` bytes
// (e_lfanew neither negative nor at or past the end). What follows the start is checked by the
// decoders below against what the file delivered.
[[nodiscard]] bool NtHeadersStartInside(const DosHeader& header, std::uint64_t fileSize);

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

// A file as a header reader sees it: copies up to `into.size()` bytes from `offset` into `into`
// and returns how many it delivered (fewer at the end of the file, 0 when it cannot read there).
using ReadAt = std::function<std::size_t(std::uint64_t offset, std::span<std::uint8_t> into)>;

// The ImageBase of the file of `fileSize` bytes that `read` delivers, for the reader of
// `Optional` (a PE32 base zero-extended): the DOS header from offset 0 unless `dos` already holds
// one with the "MZ" magic, then the NT headers at its e_lfanew, which must start inside the file,
// decoded into `file` and `optional`. 0 when any step fails: a DOS header read is kept even
// without "MZ" (and read again next time), NT headers that fail to decode leave `file` and
// `optional` untouched. A short read is never taken for a whole header.
template <typename Optional>
[[nodiscard]] std::uint64_t ReadImageBase(std::uint64_t fileSize, const ReadAt& read,
                                          DosHeader& dos, FileHeader& file, Optional& optional);

extern template std::uint64_t ReadImageBase<OptionalHeader32>(std::uint64_t, const ReadAt&,
                                                              DosHeader&, FileHeader&,
                                                              OptionalHeader32&);
extern template std::uint64_t ReadImageBase<OptionalHeader64>(std::uint64_t, const ReadAt&,
                                                              DosHeader&, FileHeader&,
                                                              OptionalHeader64&);

// What a reader of the report wants to know of an image file, beyond its base.
inline constexpr std::uint16_t kDynamicBase = 0x0040;  // DllCharacteristics: the image asks to move
// The data directory that holds the certificate table (its address is a file offset).
inline constexpr std::size_t kSecurityDirectory = 4;

struct ImageFacts {
    bool pe32Plus = false;  // the Magic's width: PE32+ (64-bit) or PE32
    std::uint64_t imageBase = 0;
    std::uint32_t sizeOfImage = 0;
    std::uint16_t dllCharacteristics = 0;
    bool hasCertificate = false;  // a certificate table is present (its validity is not checked)
};

// The facts of the file of `fileSize` bytes that `read` delivers, its optional header read with
// the width that its Magic announces (headers read as ReadImageBase reads them). Nothing when the
// headers cannot be read or the Magic is of neither width. The certificate table counts only when
// the header has room for its directory and the directory is not empty.
[[nodiscard]] std::optional<ImageFacts> ReadImageFacts(std::uint64_t fileSize, const ReadAt& read);

// Of a whole file held in `image`: true when it begins with "MZ" and the optional header at
// e_lfanew + 24 has the PE32+ Magic and lies wholly inside `image`. The NT signature is not
// looked at (the reader checks it).
[[nodiscard]] bool IsPE32Plus(Bytes image);

}  // namespace pe

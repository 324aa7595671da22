// Feeds arbitrary bytes to the PE header decoding twice over: straight from the bytes, and through
// CImageFile reading them as a file of the fake file system (whose views are heap copies of exact
// size, so that the sanitizers see any read past the end). Both must agree, and the reader must
// release everything it opened.
#include "image/ImageFile.h"
#include "image/PeHeaders.h"
#include "platform/fake/FakePlatform.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

constexpr const wchar_t* kPath = L"C:\\fuzz\\input.dll";

os::fake::FakePlatform& Fake()
{
    static os::fake::FakePlatform fake;
    return fake;
}

void Check(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

// The base that a reader of the given width finds in a whole file held in memory; 0 for none.
ULONGLONG BaseFromBytes(pe::Bytes bytes, bool pe32Plus)
{
    pe::DosHeader dos{};
    if (!pe::DecodeDosHeader(bytes, dos) || !pe::HasDosMagic(dos) ||
        !pe::NtHeadersStartInside(dos, bytes.size())) {
        return 0;
    }
    const pe::Bytes ntHeaders = bytes.subspan(static_cast<std::size_t>(dos.ntHeadersOffset));
    pe::FileHeader fileHeader{};
    if (pe32Plus) {
        pe::OptionalHeader64 optional{};
        return pe::DecodeNtHeaders(ntHeaders, fileHeader, optional) ? optional.imageBase : 0;
    }
    pe::OptionalHeader32 optional{};
    return pe::DecodeNtHeaders(ntHeaders, fileHeader, optional) ? optional.imageBase : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const pe::Bytes bytes(data, size);
    const bool pe32Plus = pe::IsPE32Plus(bytes);
    const ULONGLONG chosen = BaseFromBytes(bytes, pe32Plus);
    const ULONGLONG other = BaseFromBytes(bytes, !pe32Plus);

    os::fake::FakePlatform& fake = Fake();
    fake.files.AddFile(kPath, std::vector<BYTE>(data, data + size));
    {
        CImageFile image;
        const bool opened = image.Open(kPath, true);
        Check(opened == (size != 0));  // only an empty file cannot be mapped
        if (opened) {
            Check(image.IsPE32Plus() == pe32Plus);
            if (pe32Plus) {
                Check(image.ReadImageBase64() == chosen);
                Check(image.ReadImageBase64() == chosen);  // from the held copy
                Check(image.ReadImageBase32() == other);
            } else {
                Check(image.ReadImageBase32() == chosen);
                Check(image.ReadImageBase64() == other);
            }
        }
    }
    Check(fake.OpenResourceCount() == 0);
    return 0;
}

// Feeds arbitrary bytes to the PE header decoding: as a file, through a reader that delivers fewer
// bytes at its end, with both header widths, and whole to IsPE32Plus. The sanitizers catch a read
// past the bytes; the checks are what a correct decoder cannot fail.
#include "image/ImageFileCases.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const pe::Bytes file(data, size);
    pe::DosHeader dos{};
    pe::OptionalHeader64 wide{};
    pe::OptionalHeader32 narrow{};
    // The second width reuses the DOS header that the first read, as CImageFile does.
    const std::uint64_t wideBase = image_test::ReadBase(file, dos, wide);
    const std::uint64_t narrowBase = image_test::ReadBase(file, dos, narrow);
    const bool pe32Plus = pe::IsPE32Plus(file);
    // A PE32 base is zero-extended. A decoded PE32+ header lies wholly inside the file, so
    // IsPE32Plus goes by its Magic; a PE32 reader never takes the base of a PE32+ header cut to
    // the PE32 length.
    const bool widePlus = wide.magic == pe::kPe32PlusMagic;
    if (narrowBase > UINT32_MAX || (wideBase != 0 && pe32Plus != widePlus) ||
        (narrowBase != 0 && narrow.magic == pe::kPe32PlusMagic && !pe32Plus)) {
        std::abort();
    }
    return 0;
}

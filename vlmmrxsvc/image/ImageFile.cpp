#include "image/ImageFile.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string_view>

namespace {

constexpr std::wstring_view kPipeMarker = L"\\PIPE\\";
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

wchar_t UpperAscii(wchar_t c)
{
    return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

// Reads up to `into.size()` bytes at `offset`; the count read, 0 when the file cannot be read
// there. A disk file delivers less only at its end, but a short read is never taken as complete.
std::size_t ReadAt(HANDLE file, ULONGLONG offset, std::span<BYTE> into)
{
    if (offset > static_cast<ULONGLONG>(std::numeric_limits<LONGLONG>::max()) ||
        os::Files().SetFilePointerEx(file, static_cast<LONGLONG>(offset), nullptr, FILE_BEGIN) ==
            FALSE) {
        return 0;
    }
    std::size_t total = 0;
    while (total < into.size()) {
        DWORD done = 0;
        const auto wanted = static_cast<DWORD>(into.size() - total);
        if (os::Files().ReadFile(file, into.data() + total, wanted, &done) == FALSE || done == 0) {
            break;
        }
        total += std::min(done, wanted);
    }
    return total;
}

bool FileSize(HANDLE file, ULONGLONG& size)
{
    LONGLONG bytes = 0;
    if (os::Files().GetFileSizeEx(file, &bytes) == FALSE || bytes < 0) {
        return false;
    }
    size = static_cast<ULONGLONG>(bytes);
    return true;
}

}  // namespace

bool NamesPipe(const wchar_t* path)
{
    if (path == nullptr) {
        return false;
    }
    const std::wstring_view examined = std::wstring_view(path).substr(0, kImagePathCharacters);
    wchar_t upper[kImagePathCharacters] = {};
    std::transform(examined.begin(), examined.end(), upper, UpperAscii);
    return std::wstring_view(upper, examined.size()).find(kPipeMarker) != std::wstring_view::npos;
}

CImageFile::CImageFile() { Reset(); }

CImageFile::~CImageFile() { Close(); }

void CImageFile::Reset()
{
    dosHeader = {};
    fileHeader = {};
    optionalHeader32 = {};
    optionalHeader64 = {};
}

void CImageFile::Close()
{
    view.reset();
    viewSize = 0;
    mappingHandle.reset();
    fileHandle.reset();
}

bool CImageFile::Open(const wchar_t* path, bool map)
{
    Close();
    Reset();
    if (path == nullptr || NamesPipe(path)) {
        return false;
    }
    fileHandle.reset(os::Files().CreateFileW(path, GENERIC_READ, kShareAll, OPEN_EXISTING,
                                             FILE_ATTRIBUTE_NORMAL));
    if (!fileHandle) {
        return false;
    }
    if (os::Files().GetFileType(fileHandle.get()) != FILE_TYPE_DISK) {
        Close();
        return false;
    }
    if (!map) {
        return true;
    }
    // The view is made exactly as long as the file measured here: had the file shrunk before the
    // mapping was made, the view fails instead of promising bytes that are not there.
    ULONGLONG size = 0;
    if (!FileSize(fileHandle.get(), size) || size > std::numeric_limits<SIZE_T>::max()) {
        Close();
        return false;
    }
    mappingHandle.reset(os::Files().CreateFileMappingW(fileHandle.get(), PAGE_READONLY, 0, 0));
    if (!mappingHandle) {
        Close();
        return false;
    }
    view.reset(os::Files().MapViewOfFile(mappingHandle.get(), FILE_MAP_READ, 0, 0,
                                         static_cast<SIZE_T>(size)));
    if (!view) {
        Close();
        return false;
    }
    viewSize = size;
    return true;
}

bool CImageFile::IsPE32Plus() const
{
    if (!fileHandle || !view) {
        return false;
    }
    return pe::IsPE32Plus(
        pe::Bytes(static_cast<const BYTE*>(view.get()), static_cast<std::size_t>(viewSize)));
}

// The DOS header is taken from the start of the file, once per Reset.
bool CImageFile::LoadDosHeader()
{
    if (pe::HasDosMagic(dosHeader)) {
        return true;
    }
    BYTE bytes[sizeof(pe::DosHeader)] = {};
    const std::size_t read = ReadAt(fileHandle.get(), 0, bytes);
    return pe::DecodeDosHeader(pe::Bytes(bytes, read), dosHeader) && pe::HasDosMagic(dosHeader);
}

template <typename Optional>
ULONGLONG CImageFile::ReadNtHeaders(Optional& optional)
{
    ULONGLONG size = 0;
    if (!FileSize(fileHandle.get(), size) || !pe::NtHeadersStartInside(dosHeader, size)) {
        return 0;
    }
    BYTE bytes[pe::kLargestNtHeaders] = {};
    const auto offset = static_cast<ULONGLONG>(dosHeader.ntHeadersOffset);
    const std::size_t read = ReadAt(fileHandle.get(), offset, bytes);
    if (!pe::DecodeNtHeaders(pe::Bytes(bytes, read), fileHeader, optional)) {
        return 0;
    }
    return optional.imageBase;
}

ULONGLONG CImageFile::ReadImageBase32()
{
    if (!fileHandle || !LoadDosHeader()) {
        return 0;
    }
    return ReadNtHeaders(optionalHeader32);
}

ULONGLONG CImageFile::ReadImageBase64()
{
    if (!fileHandle || !LoadDosHeader()) {
        return 0;
    }
    if (optionalHeader64.magic == pe::kPe32PlusMagic) {
        return optionalHeader64.imageBase;
    }
    return ReadNtHeaders(optionalHeader64);
}

#include "image/ImageFile.h"

#include "platform/FileAccess.h"
#include "platform/FileAt.h"
#include "platform/Paths.h"

#include <cstdint>
#include <limits>

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Whatever might answer an open could at most identify the service, never act as it.
constexpr DWORD kOpenFlags =
    FILE_ATTRIBUTE_NORMAL | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;

bool FileSize(HANDLE file, ULONGLONG& size)
{
    LARGE_INTEGER bytes{};
    if (::GetFileSizeEx(file, &bytes) == FALSE || bytes.QuadPart < 0) {
        return false;
    }
    size = static_cast<ULONGLONG>(bytes.QuadPart);
    return true;
}

}  // namespace

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
    if (path == nullptr || NamesPipe(path) ||
        ClassifyForOpening(path) == OpenablePath::Refused) {
        return false;
    }
    fileHandle.reset(
        ::CreateFileW(path, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, kOpenFlags, nullptr));
    if (!fileHandle) {
        return false;
    }
    if (::GetFileType(fileHandle.get()) != FILE_TYPE_DISK) {
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
    mappingHandle.reset(
        ::CreateFileMappingW(fileHandle.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (!mappingHandle) {
        Close();
        return false;
    }
    view.reset(
        ::MapViewOfFile(mappingHandle.get(), FILE_MAP_READ, 0, 0, static_cast<SIZE_T>(size)));
    if (!view) {
        Close();
        return false;
    }
    viewSize = size;
    return true;
}

std::optional<FileIdentity> CImageFile::Identity() const
{
    if (!fileHandle) {
        return std::nullopt;
    }
    return IdentityOfHandle(fileHandle.get());
}

bool CImageFile::IsPE32Plus() const
{
    if (!fileHandle || !view) {
        return false;
    }
    return pe::IsPE32Plus(
        pe::Bytes(static_cast<const BYTE*>(view.get()), static_cast<std::size_t>(viewSize)));
}

template <typename Optional>
ULONGLONG CImageFile::ReadBase(Optional& optional)
{
    ULONGLONG size = 0;
    if (!fileHandle || !FileSize(fileHandle.get(), size)) {
        return 0;
    }
    const HANDLE file = fileHandle.get();
    return pe::ReadImageBase(
        size, [file](std::uint64_t offset, std::span<std::uint8_t> into) {
            return ReadFileAt(file, offset, into);
        },
        dosHeader, fileHeader, optional);
}

ULONGLONG CImageFile::ReadImageBase32() { return ReadBase(optionalHeader32); }

ULONGLONG CImageFile::ReadImageBase64()
{
    // Answered from the held copy once a PE32+ header has been read since the last Reset.
    if (fileHandle && optionalHeader64.magic == pe::kPe32PlusMagic) {
        return optionalHeader64.imageBase;
    }
    return ReadBase(optionalHeader64);
}

#include "platform/FileAccess.h"

#include "platform/UniqueResource.h"

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr DWORD kIdentificationOnly = SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;
constexpr DWORD kDeviceNameCapacity = 1024;
constexpr int kBitsPerDword = 32;

std::uint64_t Number(DWORD high, DWORD low)
{
    return static_cast<std::uint64_t>(high) << kBitsPerDword | low;
}

std::uint64_t Number(const FILETIME& time)
{
    return Number(time.dwHighDateTime, time.dwLowDateTime);
}

// Whether an answer given at `askedAt` (never, when empty) is to be asked again at `now`.
bool IsStale(const std::optional<ULONGLONG>& askedAt, ULONGLONG now)
{
    return !askedAt || now - *askedAt >= kDriveAnswerLifetimeMs;
}

std::vector<DosDrive> QueryDosDrives()
{
    std::vector<DosDrive> drives;
    const DWORD present = ::GetLogicalDrives();
    for (wchar_t letter = L'A'; letter <= L'Z'; ++letter) {
        if ((present & (1u << (letter - L'A'))) == 0) {
            continue;
        }
        const wchar_t name[] = {letter, L':', L'\0'};
        wchar_t device[kDeviceNameCapacity] = {};
        // The answer is a list; its first entry is the device the drive names now.
        if (::QueryDosDeviceW(name, device, kDeviceNameCapacity) != 0) {
            device[kDeviceNameCapacity - 1] = L'\0';
            drives.push_back({letter, device});
        }
    }
    return drives;
}

}  // namespace

OpenAs DriveView::AccessFor(std::wstring_view path)
{
    switch (ClassifyForOpening(path)) {
    case OpenablePath::Refused:
        return OpenAs::Nobody;
    case OpenablePath::SharePath:
        return OpenAs::OwnerOnly;
    case OpenablePath::DrivePath:
        break;
    }
    return IsNetworkDrive(DriveLetterOf(path)) ? OpenAs::OwnerOnly : OpenAs::ServiceFirst;
}

bool DriveView::IsNetworkDrive(wchar_t letter)
{
    Kind& kind = kinds_[static_cast<std::size_t>(UpperCaseOf(letter) - L'A')];
    const ULONGLONG now = ::GetTickCount64();
    if (IsStale(kind.askedAt, now)) {
        const wchar_t root[] = {letter, L':', L'\\', L'\0'};
        kind = {::GetDriveTypeW(root) == DRIVE_REMOTE, now};
    }
    return kind.network;
}

std::optional<std::wstring> DriveView::OpenableFormOf(std::wstring_view mappedName)
{
    if (std::optional<std::wstring> form = OpenableFormOfMappedName(mappedName, {})) {
        return form;
    }
    const ULONGLONG now = ::GetTickCount64();
    if (IsStale(devicesAskedAt_, now)) {
        devices_ = QueryDosDrives();
        devicesAskedAt_ = now;
    }
    return OpenableFormOfMappedName(mappedName, devices_);
}

std::optional<FileIdentity> IdentityOfHandle(HANDLE file)
{
    BY_HANDLE_FILE_INFORMATION information{};
    if (::GetFileInformationByHandle(file, &information) == FALSE) {
        return std::nullopt;
    }
    return FileIdentity{information.dwVolumeSerialNumber,
                        Number(information.nFileIndexHigh, information.nFileIndexLow),
                        Number(information.ftLastWriteTime)};
}

std::optional<FileIdentity> IdentityOfPath(const wchar_t* path)
{
    const os::UniqueFile file(::CreateFileW(path, FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                            OPEN_EXISTING, kIdentificationOnly, nullptr));
    if (!file || ::GetFileType(file.get()) != FILE_TYPE_DISK) {
        return std::nullopt;
    }
    return IdentityOfHandle(file.get());
}

std::optional<FileStamp> StampOf(const wchar_t* path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (::GetFileAttributesExW(path, GetFileExInfoStandard, &data) == FALSE) {
        return std::nullopt;
    }
    return FileStamp{Number(data.ftCreationTime), Number(data.ftLastWriteTime),
                     Number(data.nFileSizeHigh, data.nFileSizeLow)};
}

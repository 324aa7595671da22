// The report tool on Windows: the registry's setting, files opened with the Windows calls, and
// output that a console shows as text and a pipe or file receives as UTF-8 bytes.
#include "vlmmrxreport/System.h"

#include "vlmmrxreport/Utf8.h"

#include "platform/FileAt.h"
#include "platform/Paths.h"
#include "platform/UniqueResource.h"
#include "settings/RepairFileSetting.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace {

// The service's settings are in the registry's 32-bit view, also for this 64-bit tool.
constexpr REGSAM kSettingAccess = KEY_QUERY_VALUE | KEY_WOW64_32KEY;

// Larger writes are split: a console takes at most about 64 KiB per call.
constexpr DWORD kLargestWrite = 0x8000;

std::wstring Wide(std::string_view text)
{
    const int length = static_cast<int>(text.size());
    std::wstring wide(::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), length, wide.data(),
                          static_cast<int>(wide.size()));
    return wide;
}

// Opens a disk file for reading, whoever else reads or writes it; empty for anything else.
os::UniqueFile OpenDiskFile(const std::wstring& path)
{
    os::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file && ::GetFileType(file.get()) != FILE_TYPE_DISK) {
        file.reset();
        ::SetLastError(ERROR_NOT_SUPPORTED);
    }
    return file;
}

// The part of what is left that one write takes.
DWORD PieceOf(std::size_t left)
{
    return static_cast<DWORD>(std::min<std::size_t>(left, kLargestWrite));
}

// Shows `text` on the console that `handle` is; false, with nothing shown, when it is none (a
// pipe or a file, which get the UTF-8 bytes instead).
bool ShowOnConsole(HANDLE handle, std::string_view text)
{
    DWORD mode = 0;
    if (!::GetConsoleMode(handle, &mode)) {
        return false;
    }
    const std::wstring wide = Wide(text);
    DWORD written = 0;
    for (std::size_t at = 0; at < wide.size(); at += written) {
        if (!::WriteConsoleW(handle, wide.data() + at, PieceOf(wide.size() - at), &written,
                             nullptr) ||
            written == 0) {
            return at != 0;  // what was shown is not written again
        }
    }
    return true;
}

void Write(DWORD stream, std::string_view text)
{
    const HANDLE handle = ::GetStdHandle(stream);
    if (ShowOnConsole(handle, text)) {
        return;
    }
    DWORD written = 0;
    for (std::size_t at = 0; at < text.size(); at += written) {
        if (!::WriteFile(handle, text.data() + at, PieceOf(text.size() - at), &written, nullptr) ||
            written == 0) {
            return;
        }
    }
}

// The file the service's setting names, read as the service reads it; empty when there is none.
std::wstring ConfiguredRepairFile()
{
    os::UniqueKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kServiceKeyText, 0, kSettingAccess, key.put()) !=
        ERROR_SUCCESS) {
        return {};
    }
    std::vector<std::uint8_t> data(kRepairFileSettingBytes);
    auto bytes = static_cast<DWORD>(data.size());
    if (::RegQueryValueExW(key.get(), kRepairPendingFileValue, nullptr, nullptr, data.data(),
                           &bytes) != ERROR_SUCCESS) {
        return {};
    }
    data.resize(bytes);
    return RepairFileFromSetting(data);
}

}  // namespace

std::string ServiceRepairFile(std::string& error)
{
    const std::string path = Utf8(ConfiguredRepairFile());
    if (path.empty()) {
        error = "no FILE given, and no \"" + Utf8(kRepairPendingFileValue) +
                "\" setting in HKLM\\" + Utf8(kServiceKeyText) +
                " (32-bit view) names the service's file";
    }
    return path;
}

pe::ReadAt OpenForReading(const std::string& path, std::string& error)
{
    auto file = std::make_shared<os::UniqueFile>(OpenDiskFile(Wide(path)));
    if (!*file) {
        const DWORD code = ::GetLastError();
        error = path + (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND
                            ? ": no such file"
                            : ": cannot be read (error " + std::to_string(code) + ")");
        return {};
    }
    return [file](std::uint64_t offset, std::span<std::uint8_t> into) {
        return ReadFileAt(file->get(), offset, into);
    };
}

std::uint32_t ImageSizeOfFile(const std::wstring& path)
{
    if (NamesPipe(path)) {
        return 0;
    }
    const os::UniqueFile file = OpenDiskFile(path);
    LARGE_INTEGER size{};
    if (!file || !::GetFileSizeEx(file.get(), &size)) {
        return 0;
    }
    return pe::ReadSizeOfImage(static_cast<std::uint64_t>(size.QuadPart),
                               [&file](std::uint64_t offset, std::span<std::uint8_t> into) {
                                   return ReadFileAt(file.get(), offset, into);
                               });
}

void WriteOutput(std::string_view text) { Write(STD_OUTPUT_HANDLE, text); }

void WriteMessage(std::string_view text) { Write(STD_ERROR_HANDLE, text); }

int wmain(int argc, wchar_t** argv)
{
    std::vector<std::string> arguments;
    for (int index = 1; index < argc; ++index) {
        arguments.push_back(Utf8(argv[index]));
    }
    return RunReport(arguments);
}

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
    const std::wstring wide = Utf16(text);
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

// Writes all of `text` to `handle`; false when a write fails.
bool WriteAll(HANDLE handle, std::string_view text)
{
    DWORD written = 0;
    for (std::size_t at = 0; at < text.size(); at += written) {
        if (!::WriteFile(handle, text.data() + at, PieceOf(text.size() - at), &written, nullptr) ||
            written == 0) {
            return false;
        }
    }
    return true;
}

Writer StandardStream(DWORD stream)
{
    return [stream](std::string_view text) {
        const HANDLE handle = ::GetStdHandle(stream);
        return ShowOnConsole(handle, text) || WriteAll(handle, text);
    };
}

std::string WhyNot(DWORD code)
{
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND
               ? "no such file"
               : "cannot be read (error " + std::to_string(code) + ")";
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

std::string ServiceRepairFile(std::string& error, bool& usage)
{
    const std::string path = Utf8(ConfiguredRepairFile());
    if (path.empty()) {
        error = "no FILE given, and no \"" + Utf8(kRepairPendingFileValue) +
                "\" setting in HKLM\\" + Utf8(kServiceKeyText) +
                " (32-bit view) names the service's file";
    }
    usage = false;
    return path;
}

pe::ReadAt OpenForReading(const std::string& path, std::string& error)
{
    auto file = std::make_shared<os::UniqueFile>(OpenDiskFile(Utf16(path)));
    if (!*file) {
        error = path + ": " + WhyNot(::GetLastError());
        return {};
    }
    return [file](std::uint64_t offset, std::span<std::uint8_t> into) {
        return ReadFileAt(file->get(), offset, into);
    };
}

bool ListFolder(const std::string& path, std::vector<std::string>& files, std::string& error)
{
    const std::wstring folder = Utf16(path);
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return false;
    }
    const std::wstring separated = folder.ends_with(L'\\') || folder.ends_with(L'/')
                                       ? folder
                                       : folder + L'\\';
    WIN32_FIND_DATAW found{};
    const os::UniqueFind search(::FindFirstFileExW((separated + L'*').c_str(), FindExInfoBasic,
                                                   &found, FindExSearchNameMatch, nullptr, 0));
    if (!search) {
        error = path + ": the folder cannot be read (error " + std::to_string(::GetLastError()) +
                ")";
        return false;
    }
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            files.push_back(Utf8(separated + found.cFileName));
        }
    } while (::FindNextFileW(search.get(), &found));
    std::sort(files.begin(), files.end());
    return true;
}

FileFacts ImageFactsOfFile(const std::wstring& path)
{
    FileFacts facts;
    if (NamesPipe(path)) {
        facts.unreadable = "names a pipe";
        return facts;
    }
    const os::UniqueFile file = OpenDiskFile(path);
    LARGE_INTEGER size{};
    if (!file || !::GetFileSizeEx(file.get(), &size)) {
        facts.unreadable = WhyNot(::GetLastError());
        return facts;
    }
    facts.image = pe::ReadImageFacts(static_cast<std::uint64_t>(size.QuadPart),
                                     [&file](std::uint64_t offset, std::span<std::uint8_t> into) {
                                         return ReadFileAt(file.get(), offset, into);
                                     });
    if (!facts.image) {
        facts.unreadable = "no PE headers";
    }
    return facts;
}

std::wstring WindowsFolder()
{
    wchar_t folder[MAX_PATH] = {};
    const UINT length = ::GetWindowsDirectoryW(folder, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(folder, length) : std::wstring();
}

Writer StandardOutput() { return StandardStream(STD_OUTPUT_HANDLE); }

Writer StandardError() { return StandardStream(STD_ERROR_HANDLE); }

Writer CreateOutputFile(const std::string& path, std::string& error)
{
    auto file = std::make_shared<os::UniqueFile>(::CreateFileW(
        Utf16(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!*file) {
        error = path + ": cannot be created (error " + std::to_string(::GetLastError()) + ")";
        return {};
    }
    return [file](std::string_view text) { return WriteAll(file->get(), text); };
}

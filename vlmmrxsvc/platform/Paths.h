// Paths as the service handles them, the same on Windows and natively: wide text (UTF-16 on
// Windows), fixed path buffers, letter case, file names, the pipe rule, the gate that every path
// taken from another process passes before anything opens it, the kernel's names of mapped files
// turned into names that can be opened, and the joining of a disconnected network drive's
// remembered share with the rest of a path on it.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// Paths are examined up to this many characters; the platform's fixed path buffers hold one more
// for the terminator. A path of this many characters or more is not examined.
inline constexpr std::size_t kImagePathCharacters = 260;

// The capital of `c` by the simple upper-case mapping that the system's CharUpperBuffW applies
// (the same table natively and on Windows, with no system call); `c` itself when it has none.
[[nodiscard]] wchar_t UpperCaseOf(wchar_t c);

// Upper-cases `text` in place, character by character with UpperCaseOf, so that names compare
// as the system compares them.
void UpperCase(std::wstring& text);

// `text` upper-cased as UpperCase does it.
[[nodiscard]] std::wstring UpperCased(std::wstring_view text);

// The part of `path` after its last '\', '/' or drive colon: "C:\Apps\tool.exe" and "C:tool.exe"
// give "tool.exe"; a path without any gives itself.
[[nodiscard]] std::wstring_view FileNamePart(std::wstring_view path);

// A path cut into its parts as the C library's _wsplitpath cuts it: "C:\Data\list.bin" gives
// "C:", "\Data\", "list" and ".bin".
struct PathParts {
    std::wstring_view drive;
    std::wstring_view directory;
    std::wstring_view name;
    std::wstring_view extension;
};

[[nodiscard]] PathParts SplitPath(std::wstring_view path);

// Whether `path`, cut to kImagePathCharacters, contains "\PIPE\" in any letter case: such a path
// names a pipe and is never opened as an image nor recorded.
[[nodiscard]] bool NamesPipe(std::wstring_view path);

// Whether the parts fit the platform's path-splitting buffers (drive 2, directory 255, name and
// extension 259 characters each).
[[nodiscard]] bool FitsSplitBuffers(const PathParts& parts);

// The share's remote name, a backslash unless the directory begins with one, then the directory,
// name and extension of `parts`; nothing when the four lengths and 4 exceed `capacity`
// characters, or the joined text and its terminator would not fit in them.
[[nodiscard]] std::optional<std::wstring> JoinRememberedShare(std::wstring_view remoteName,
                                                              const PathParts& parts,
                                                              std::size_t capacity);

// What a path that another process named may be opened as, judged from its text alone.
enum class OpenablePath {
    Refused,    // anything that could lead elsewhere than to a file on a disk or a share
    DrivePath,  // "X:\..." (also "X:/...") or "\\?\X:\...": a file on a drive
    SharePath,  // "\\server\share\..." (either slash): a file on a share of some machine
};

// The gate in front of every file call (CreateFileW, GetFileAttributes*, mapping, a probe) with a
// path that another process named. A path is admitted only in a plain absolute form whose meaning
// no current directory, device namespace or path rewriting can change: a drive letter with a
// separator, the "\\?\" form of one (backslashes only), or a share on a named server. Refused:
// "\\.\" and every other "\\?\" form, "\??\", rooted, relative and drive-relative paths, empty, "."
// and ".." segments (and any of dots and spaces only), DOS device names in any segment (CON, NUL,
// COM1, LPT1 and its superscript forms, CONIN$, ..., with or without an extension), streams (a
// ':' past the drive), wildcards and control characters, and the shares that are no file systems
// (PIPE, MAILSLOT, IPC$), in any letter case.
[[nodiscard]] OpenablePath ClassifyForOpening(std::wstring_view path);

// The drive letter of a path that ClassifyForOpening admits as a DrivePath.
[[nodiscard]] wchar_t DriveLetterOf(std::wstring_view drivePath);

// A drive letter and the device that it names, as QueryDosDeviceW answers for "C:"
// ("\Device\HarddiskVolume3").
struct DosDrive {
    wchar_t letter;
    std::wstring device;
};

// The kernel's name of a mapped file (GetMappedFileNameW) in a form that file calls open: the
// device of a drive in `drives` becomes that drive ("\Device\HarddiskVolume3\x.dll" with C: naming
// \Device\HarddiskVolume3 gives "C:\x.dll"; the longest device that matches whole wins); a network
// redirector's name ("\Device\Mup\..." or "\Device\LanmanRedirector\...", its ";" components
// left out) becomes the share's "\\server\share\..."; Wine's "\??\C:\x.dll" and "\??\UNC\..." lose
// their prefix. Nothing for a device that no drive names (a volume mounted in a folder, say).
[[nodiscard]] std::optional<std::wstring> OpenableFormOfMappedName(
    std::wstring_view mapped, std::span<const DosDrive> drives);

// Whether two absolute paths read the same without regard to letter case, a "\\?\" prefix left
// aside: how a module's listed path is first compared with the kernel's name of its file.
[[nodiscard]] bool SamePathText(std::wstring_view first, std::wstring_view second);

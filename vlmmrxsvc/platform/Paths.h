// Paths as the service handles them, the same on Windows and natively: wide text (UTF-16 on
// Windows), fixed path buffers, letter case, file names, the pipe rule, and the joining of a
// disconnected network drive's remembered share with the rest of a path on it.
#pragma once

#include <cstddef>
#include <optional>
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

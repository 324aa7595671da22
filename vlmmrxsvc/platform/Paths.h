// Paths as the service handles them, the same on Windows and natively: wide text (UTF-16 on
// Windows), fixed path buffers, letter case, file names and the pipe rule.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Paths are examined up to this many characters; the platform's fixed path buffers hold one more
// for the terminator. A path of this many characters or more is not examined.
inline constexpr std::size_t kImagePathCharacters = 260;

// Upper-cases `text` in place: on Windows with the system's own tables (CharUpperBuffW), so that
// names compare as the system compares them; natively with the C library's towupper.
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

// Letter case and file names of wide-character paths, the same on Windows and on the host.
#pragma once

#include <string>
#include <string_view>

// Upper-cases `text` in place: on Windows with the system's own tables (CharUpperBuffW), so that
// names compare as the system compares them; elsewhere with the C library's towupper.
void UpperCase(std::wstring& text);

// The part of `path` after its last '\', '/' or drive colon: "C:\Apps\tool.exe" and "C:tool.exe"
// give "tool.exe"; a path without any gives itself.
std::wstring_view FileNamePart(std::wstring_view path);

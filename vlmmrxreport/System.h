// What the report tool asks of the system: one implementation for Windows (WindowsSystem.cpp)
// and one over the standard library for the native build (PortableSystem.cpp). Each also holds
// the program's entry point, which hands the arguments to RunReport as UTF-8.
#pragma once

#include "image/PeHeaders.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Runs the tool on its arguments (after the program's name); returns the exit code.
int RunReport(const std::vector<std::string>& arguments);

// The file the service uses, from its "RepairPendingFile" setting (UTF-8). Empty, with `error`
// saying why and naming the setting, when there is none (always in the native build, which reads
// no registry).
[[nodiscard]] std::string ServiceRepairFile(std::string& error);

// Opens `path` for reading only, letting others go on reading and writing it (the service holds
// the file open for writing while it runs). A reader of the open file, or an empty one with
// `error` saying what went wrong, naming the file.
[[nodiscard]] pe::ReadAt OpenForReading(const std::string& path, std::string& error);

// The SizeOfImage of the image file at `path`; 0 when it is no readable disk file with PE
// headers (a path that names a pipe is never opened).
[[nodiscard]] std::uint32_t ImageSizeOfFile(const std::wstring& path);

// Writes UTF-8 text to the standard output, or to the standard error stream.
void WriteOutput(std::string_view text);
void WriteMessage(std::string_view text);

// What the report tool asks of the system: one implementation for Windows (WindowsSystem.cpp)
// and one over the standard library for the native build (PortableSystem.cpp). Paths are UTF-8.
#pragma once

#include "image/PeHeaders.h"
#include "vlmmrxreport/Findings.h"
#include "vlmmrxreport/TextOut.h"

#include <string>
#include <vector>

// The file the service uses, from its "RepairPendingFile" setting. Empty, with `error` saying why
// and naming the setting, when there is none (always in the native build, which reads no
// registry); `usage` says whether that is a command-line error rather than a missing file.
[[nodiscard]] std::string ServiceRepairFile(std::string& error, bool& usage);

// Opens `path` for reading only, letting others go on reading and writing it (the service holds
// the file open for writing while it runs). A reader of the open file, or an empty one with
// `error` saying what went wrong, naming the file.
[[nodiscard]] pe::ReadAt OpenForReading(const std::string& path, std::string& error);

// Whether `path` names a folder; if so, the paths of the files in it (not of its folders), in
// name order. `error` says why a folder cannot be listed.
[[nodiscard]] bool ListFolder(const std::string& path, std::vector<std::string>& files,
                              std::string& error);

// The image facts of the file at `path`, or why it cannot be read (a path that names a pipe is
// never opened).
[[nodiscard]] FileFacts ImageFactsOfFile(const std::wstring& path);

// The Windows folder, under which the system's own files lie: the system's on Windows, and
// natively C:\Windows, where the records copied off a machine name them.
[[nodiscard]] std::wstring WindowsFolder();

// The standard output and error streams as writers of UTF-8 text; a console shows it as text.
[[nodiscard]] Writer StandardOutput();
[[nodiscard]] Writer StandardError();

// A writer of a file created (or replaced) at `path`; an empty one, with `error` saying why,
// when it cannot be created.
[[nodiscard]] Writer CreateOutputFile(const std::string& path, std::string& error);

// Runs the tool on its arguments (after the program's name, UTF-8), writing to `output` and
// `messages`; returns the exit code (Run.cpp).
int RunReport(const std::vector<std::string>& arguments, const Writer& output,
              const Writer& messages);

// Runs the report tool beside the test program, as an administrator runs it, and collects what it
// wrote; for any Windows test program that has vlmmrxreport.exe built beside it.
#pragma once

#include "process/victim/Beside.h"
#include "support/ChildProcess.h"

#include <string>
#include <utility>

namespace testing_support {

// Runs `vlmmrxreport.exe arguments` (quote paths with spaces) until it ends: its exit code
// (MAXDWORD when it could not start) and its standard output and error streams as one, UTF-8.
inline std::pair<DWORD, std::string> RunReportTool(const std::wstring& arguments)
{
    const ChildProcess tool =
        StartWithOutput(L"\"" + Beside(L"vlmmrxreport.exe") + L"\" " + arguments);
    std::pair<DWORD, std::string> run(MAXDWORD, "");
    char chunk[4096];
    DWORD read = 0;
    while (::ReadFile(tool.output.get(), chunk, sizeof chunk, &read, nullptr) && read > 0) {
        run.second.append(chunk, read);
    }
    ::WaitForSingleObject(tool.process.get(), INFINITE);
    ::GetExitCodeProcess(tool.process.get(), &run.first);
    return run;
}

}  // namespace testing_support

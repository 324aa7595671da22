// Runs the report tool beside the test program, as an administrator runs it, and collects what it
// wrote; for any Windows test program that has vlmmrxreport.exe built beside it.
#pragma once

#include "platform/UniqueResource.h"
#include "process/victim/Beside.h"

#include <string>
#include <utility>

namespace testing_support {

// Runs `vlmmrxreport.exe arguments` (quote paths with spaces) until it ends: its exit code
// (MAXDWORD when it could not start) and its standard output and error streams as one, UTF-8.
inline std::pair<DWORD, std::string> RunReportTool(const std::wstring& arguments)
{
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    os::UniqueHandle output;
    os::UniqueHandle childOutput;
    ::CreatePipe(output.put(), childOutput.put(), &inheritable, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = childOutput.get();
    std::wstring command = L"\"" + Beside(L"vlmmrxreport.exe") + L"\" " + arguments;
    PROCESS_INFORMATION started{};
    ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                     &started);
    const os::UniqueHandle process(started.hProcess);
    const os::UniqueHandle thread(started.hThread);
    childOutput.reset();  // the pipe ends when the tool does
    std::pair<DWORD, std::string> run(MAXDWORD, "");
    char chunk[4096];
    DWORD read = 0;
    while (::ReadFile(output.get(), chunk, sizeof chunk, &read, nullptr) && read > 0) {
        run.second.append(chunk, read);
    }
    ::WaitForSingleObject(process.get(), INFINITE);
    ::GetExitCodeProcess(process.get(), &run.first);
    return run;
}

}  // namespace testing_support

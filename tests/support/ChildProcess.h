// A program started by a test with its standard output (and error) going into a pipe the test
// reads.
#pragma once

#include "platform/UniqueResource.h"

#include <string>

namespace testing_support {

struct ChildProcess {
    os::UniqueHandle process;
    os::UniqueHandle output;  // the read end; it ends when the program does
    DWORD id = 0;
};

// Starts `command` (the program's path quoted) with its output into a pipe; an empty process when
// it cannot be started.
inline ChildProcess StartWithOutput(std::wstring command)
{
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    ChildProcess child;
    os::UniqueHandle childOutput;
    ::CreatePipe(child.output.put(), childOutput.put(), &inheritable, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = childOutput.get();
    PROCESS_INFORMATION started{};
    if (::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                         &startup, &started)) {
        child.process.reset(started.hProcess);
        const os::UniqueHandle thread(started.hThread);
        child.id = started.dwProcessId;
    }
    return child;
}

}  // namespace testing_support

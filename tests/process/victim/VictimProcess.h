// A victim process for the tests to examine (Victim.cpp), started beside the test program and
// ended when the object is destroyed. It ends itself after a while, which also bounds the wait for
// its report.
#pragma once

#include "Beside.h"
#include "platform/UniqueResource.h"

#include <cstdio>
#include <string>

class VictimProcess {
public:
    static constexpr DWORD kEndWaitMs = 10000;

    // `executable` is one of the victim's names beside the test program (each a copy of the same
    // program, so that the tests can give each its own level).
    explicit VictimProcess(const std::wstring& arguments = L"",
                           const wchar_t* executable = L"vlm_victim.exe")
        : path(Beside(executable))
    {
        SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
        os::UniqueHandle output;
        os::UniqueHandle childOutput;
        ::CreatePipe(output.put(), childOutput.put(), &inheritable, 0);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = childOutput.get();
        std::wstring command = L"\"" + path + L"\" " + arguments;
        PROCESS_INFORMATION started{};
        if (::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                             &startup, &started)) {
            process_.reset(started.hProcess);
            const os::UniqueHandle thread(started.hThread);
        }
        childOutput.reset();  // the read ends when the victim does, reported or not
        char line[256] = {};
        DWORD read = 0;
        ::ReadFile(output.get(), line, sizeof line - 1, &read, nullptr);
        reported = std::sscanf(line, "pid=%*u first=%*x second=%llx mapped=%llx", &second,
                               &mapped) == 2;
        id = started.dwProcessId;
    }

    ~VictimProcess()
    {
        if (process_ && ::TerminateProcess(process_.get(), 0)) {
            ::WaitForSingleObject(process_.get(), kEndWaitMs);
        }
    }

    VictimProcess(const VictimProcess&) = delete;
    VictimProcess& operator=(const VictimProcess&) = delete;

    std::wstring path;
    bool reported = false;
    DWORD id = 0;
    ULONGLONG second = 0;
    ULONGLONG mapped = 0;

private:
    os::UniqueHandle process_;
};

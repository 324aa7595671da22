// A victim process for the tests to examine (Victim.cpp), started beside the test program and
// ended when the object is destroyed. It ends itself after a while, which also bounds the wait for
// its report.
#pragma once

#include "Beside.h"
#include "support/ChildProcess.h"

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
        testing_support::ChildProcess child =
            testing_support::StartWithOutput(L"\"" + path + L"\" " + arguments);
        process_ = std::move(child.process);
        char line[256] = {};
        DWORD read = 0;
        ::ReadFile(child.output.get(), line, sizeof line - 1, &read, nullptr);
        reported = std::sscanf(line, "pid=%*u first=%*x second=%llx mapped=%llx", &second,
                               &mapped) == 2;
        id = child.id;
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

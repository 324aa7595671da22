// Other processes and the network provider.
#include "platform/win/WindowsPlatform.h"

namespace os {
namespace {

class WindowsProcessesImpl final : public IProcesses {
public:
    HANDLE OpenProcess(DWORD access, BOOL inherit, DWORD processId) override
    {
        return ::OpenProcess(access, inherit, processId);
    }

    BOOL ReadProcessMemory(HANDLE process, const void* address, void* buffer, SIZE_T bytes,
                           SIZE_T* read) override
    {
        return ::ReadProcessMemory(process, address, buffer, bytes, read);
    }

    DWORD GetModuleFileNameExW(HANDLE process, HMODULE module, wchar_t* name,
                               DWORD capacity) override
    {
        return ::GetModuleFileNameExW(process, module, name, capacity);
    }

    DWORD GetMappedFileNameW(HANDLE process, void* address, wchar_t* name,
                             DWORD capacity) override
    {
        return ::GetMappedFileNameW(process, address, name, capacity);
    }

    SIZE_T VirtualQueryEx(HANDLE process, const void* address, MEMORY_BASIC_INFORMATION* info,
                          SIZE_T bytes) override
    {
        return ::VirtualQueryEx(process, address, info, bytes);
    }

    BOOL GetProcessMemoryInfo(HANDLE process, PROCESS_MEMORY_COUNTERS* counters,
                              DWORD bytes) override
    {
        return ::GetProcessMemoryInfo(process, counters, bytes);
    }
};

class WindowsNetworkImpl final : public INetwork {
public:
    DWORD WNetGetUniversalNameW(const wchar_t* localPath, DWORD infoLevel, void* buffer,
                                DWORD* bytes) override
    {
        return ::WNetGetUniversalNameW(localPath, infoLevel, buffer, bytes);
    }

    DWORD WNetGetConnectionW(const wchar_t* localName, wchar_t* remoteName, DWORD* chars) override
    {
        return ::WNetGetConnectionW(localName, remoteName, chars);
    }
};

}  // namespace

IProcesses& WindowsProcesses() { return LeakyInstance<WindowsProcessesImpl>(); }
INetwork& WindowsNetwork() { return LeakyInstance<WindowsNetworkImpl>(); }

}  // namespace os

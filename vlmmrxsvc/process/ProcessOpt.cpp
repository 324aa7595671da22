#include "process/ProcessOpt.h"

#include "platform/Waits.h"
#include "process/Impersonate.h"

CProcessOpt::CProcessOpt(const DiscoveryContext& context, DiscoveryMemory* memory)
    : stopEvent(OpenStopEvent()),
      context_(context),
      ownMemory_(memory == nullptr ? std::make_unique<DiscoveryMemory>() : nullptr),
      bases_(memory == nullptr ? ownMemory_->bases : memory->bases),
      drives_(memory == nullptr ? ownMemory_->drives : memory->drives)
{
}

CProcessOpt::~CProcessOpt()
{
    processHandle.reset();
    modules.clear();
    stopEvent.reset();
}

bool CProcessOpt::Open(DWORD id)
{
    if (processHandle) {
        GetName(name);
        return true;
    }
    processId = id;
    processHandle.reset(::OpenProcess(kProcessAllAccess, FALSE, processId));
    if (!processHandle) {
        return false;
    }
    GetName(name);  // a process whose path cannot be read is examined all the same
    return true;
}

bool CProcessOpt::GetName(std::wstring& output)
{
    if (!name.empty()) {
        output = name;
        return true;
    }
    if (!processHandle) {
        return false;
    }
    PathBuffer path{};
    if (QueryModuleFileName(processHandle.get(), nullptr, path) == 0) {
        return false;
    }
    output = path.data();
    // The path is the process's own word: unless the gate admits it on a local drive, the service
    // does not reach for it under its own identity.
    if (drives_.AccessFor(output) != OpenAs::ServiceFirst || !IsReachable(output.c_str())) {
        ResolveUniversalName(output);
    }
    return true;
}

void CProcessOpt::ResolveUniversalName(std::wstring& path) const
{
    std::optional<std::wstring> universal;
    if (ConvertAsOwner(processId, path, kProcessUniversalNameCapacity, context_.log, universal) &&
        universal) {
        path = *universal;
    }
}

ULONGLONG CProcessOpt::GetPagefileUsage() const
{
    if (!processHandle) {
        return 0;
    }
    PROCESS_MEMORY_COUNTERS counters{};
    ::GetProcessMemoryInfo(processHandle.get(), &counters, sizeof counters);
    return counters.PagefileUsage;  // still 0 when the query failed
}

DWORD QueryModuleFileName(HANDLE process, HMODULE module, PathBuffer& buffer)
{
    const DWORD result = ::GetModuleFileNameExW(process, module, buffer.data(),
                                                static_cast<DWORD>(buffer.size()));
    buffer.back() = L'\0';
    return result;
}

bool IsReachable(const wchar_t* path)
{
    return ::GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

bool IsDevicePath(const std::wstring& path) { return !path.empty() && path.front() == L'\\'; }

#include "process/ProcessOpt.h"

#include "process/Impersonate.h"
#include "process/ProcessPaths.h"
#include "service/StopEvent.h"

CProcessOpt::CProcessOpt(DWORD moduleWaitMs)
    : stopEvent(OpenStopEvent()), moduleWaitMs_(moduleWaitMs)
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
    if (!IsReachable(output.c_str())) {
        ResolveUniversalName(output);
    }
    return true;
}

void CProcessOpt::ResolveUniversalName(std::wstring& path) const
{
    std::optional<std::wstring> universal;
    if (ConvertAsOwner(processId, path, kProcessUniversalNameCapacity, universal) && universal) {
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

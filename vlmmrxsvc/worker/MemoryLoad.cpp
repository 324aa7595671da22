#include "worker/MemoryLoad.h"

#include "platform/EntryPoints.h"
#include "service/ServiceModule.h"
#include "worker/ResourceGate.h"

static_assert(sizeof(MEMORYSTATUSEX) == 64);

MemoryStatusEntry& MemoryStatusCache()
{
    static MemoryStatusEntry cache;
    return cache;
}

bool LoadMemoryStatusFunction()
{
    MemoryStatusEntry& cache = MemoryStatusCache();
    cache.globalMemoryStatusEx =
        FindEntryPoint<decltype(&::GlobalMemoryStatusEx)>(kKernel32, "GlobalMemoryStatusEx");
    return cache.globalMemoryStatusEx != nullptr;
}

double GetVirtualMemoryLoad()
{
    const MemoryStatusEntry& cache = MemoryStatusCache();
    if (cache.globalMemoryStatusEx == nullptr && !LoadMemoryStatusFunction()) {
        return 0.0;
    }
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    cache.globalMemoryStatusEx(&status);  // a failure leaves the totals 0
    return CommittedLoadPercent(status.ullTotalPageFile, status.ullAvailPageFile);
}

void LogIdleReport(const wchar_t* loadPercent, const wchar_t* idleMinutes)
{
    Module().LogEvent(EVENTLOG_WARNING_TYPE, kIdleReportEventId, loadPercent, idleMinutes);
}

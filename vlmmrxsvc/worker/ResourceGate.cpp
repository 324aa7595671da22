#include "worker/ResourceGate.h"

#include "resources/StringTable.h"
#include "service/ServiceModule.h"
#include "service/Waits.h"

#include <climits>
#include <cwchar>

namespace {

constexpr const wchar_t* kMemoryStatusModule = L"kernel32.dll";
constexpr const char* kMemoryStatusExport = "GlobalMemoryStatusEx";
constexpr double kPercent = 100.0;
constexpr DWORD kMillisecondsPerMinute = 60000;
constexpr std::size_t kInsertCharacters = 16;  // any 32-bit number in decimal, and a terminator

static_assert(sizeof(MEMORYSTATUSEX) == 64);

// A load that is not a number compares false, so it never counts as over.
bool OverThreshold(double load, DWORD threshold) { return load > static_cast<double>(threshold); }

// The load truncated toward zero. Only loads over a threshold are reported, so it lies in
// (0, 100]; the bounds only keep the conversion defined whatever comes in.
int WholePercent(double load)
{
    if (!(load > 0.0)) {
        return 0;
    }
    return load >= static_cast<double>(INT_MAX) ? INT_MAX : static_cast<int>(load);
}

void ReportIdlePeriod(double load, DWORD inactiveMs, const IdleReporter& report)
{
    wchar_t percent[kInsertCharacters] = {};
    wchar_t minutes[kInsertCharacters] = {};
    std::swprintf(percent, kInsertCharacters, L"" STR_DECIMAL_FORMAT, WholePercent(load));
    std::swprintf(minutes, kInsertCharacters, L"" STR_DECIMAL_FORMAT,
                  static_cast<int>(inactiveMs / kMillisecondsPerMinute));
    report(percent, minutes);
}

bool StopSignalledWithin(const os::UniqueHandle& stopEvent, DWORD timeoutMs)
{
    const HANDLE handles[] = {stopEvent.get()};
    return WaitWithMessagePump(1, handles, timeoutMs) == WAIT_OBJECT_0;
}

}  // namespace

MemoryStatusEntry& MemoryStatusCache()
{
    static MemoryStatusEntry cache;
    return cache;
}

bool LoadMemoryStatusFunction()
{
    MemoryStatusEntry& cache = MemoryStatusCache();
    cache.kernel32 = os::Kernel().LoadLibraryW(kMemoryStatusModule);
    if (cache.kernel32 != nullptr) {
        const FARPROC address = os::Kernel().GetProcAddress(cache.kernel32, kMemoryStatusExport);
        cache.globalMemoryStatusEx = reinterpret_cast<GlobalMemoryStatusExFunction>(
            reinterpret_cast<void (*)()>(address));
    }
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
    const auto total = static_cast<double>(status.ullTotalPageFile);
    const auto available = static_cast<double>(status.ullAvailPageFile);
    return (total - available) / total * kPercent;
}

void LogIdleReport(const wchar_t* loadPercent, const wchar_t* idleMinutes)
{
    Module().LogEvent(EVENTLOG_WARNING_TYPE, kIdleReportEventId, loadPercent, idleMinutes);
}

GateOutcome PassResourceGate(os::UniqueHandle& stopEvent, bool& gateRan,
                             const GateSettingsSource& settings, const IdleReporter& report)
{
    for (;;) {
        const GateSettings pass = settings();
        const double load = GetVirtualMemoryLoad();
        DWORD waitMs = pass.mainLoopWait;
        if (OverThreshold(load, pass.vmThreshold)) {
            ReportIdlePeriod(load, pass.vmInactiveTime, report);
            waitMs = pass.vmInactiveTime;
        }
        if (gateRan && StopSignalledWithin(stopEvent, waitMs)) {
            stopEvent.reset();
            return GateOutcome::StopSeen;
        }
        gateRan = true;
        // Read again: a reload during a long idle period counts for this recheck.
        if (!OverThreshold(GetVirtualMemoryLoad(), settings().vmThreshold)) {
            return GateOutcome::GoOn;
        }
    }
}

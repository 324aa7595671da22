// The resource gate at the head of every worker cycle: it measures the machine's committed-memory
// load, idles while the load is over the threshold, and otherwise rests the ordinary interval
// between cycles. Every wait ends at once on the stop event. Worker thread only.
#pragma once

#include "platform/UniqueResource.h"

#include <functional>

using GlobalMemoryStatusExFunction = BOOL(WINAPI*)(MEMORYSTATUSEX*);

// The memory-status entry point, looked up at run time. Process-wide and written by the worker
// thread alone; once found it stays for the life of the process (a test may clear it).
struct MemoryStatusEntry {
    HMODULE kernel32 = nullptr;
    GlobalMemoryStatusExFunction globalMemoryStatusEx = nullptr;
};
MemoryStatusEntry& MemoryStatusCache();

// Loads "kernel32.dll" and looks up its "GlobalMemoryStatusEx" into the cache; true when the
// entry point is known.
bool LoadMemoryStatusFunction();

// The committed-memory load in percent: (total - available page file) / total * 100, loading the
// entry point first if the cache has none. 0.0 when the entry point cannot be found; not a number
// when the total is 0 (the call's result is not looked at, so a failed call gives that too).
double GetVirtualMemoryLoad();

// The settings that the gate reads at every pass, all as held in the settings record.
struct GateSettings {
    DWORD mainLoopWait;    // milliseconds between cycles
    DWORD vmThreshold;     // percent of committed memory above which the worker idles
    DWORD vmInactiveTime;  // milliseconds of one idle period
};
// Called at every measure, so that a reload takes effect at the next one.
using GateSettingsSource = std::function<GateSettings()>;

// Reports an idle period; the two texts are the load and the idle minutes, each formatted "%d".
using IdleReporter = std::function<void(const wchar_t* loadPercent, const wchar_t* idleMinutes)>;

// The warning that announces an idle period (string 127 is its text).
inline constexpr DWORD kIdleReportEventId = 0x4000000A;

// Writes the idle report to the event log through the service module, as a warning (which the
// module's LogEvent drops by design).
void LogIdleReport(const wchar_t* loadPercent, const wchar_t* idleMinutes);

enum class GateOutcome { GoOn, StopSeen };

// One pass of the gate. Waits (except on the worker's first pass, while `gateRan` is clear) for
// the stop event in `stopEvent` for MainLoopWait, or for VMInactiveTime after reporting a load
// over VMThreshold; then sets `gateRan` and measures again, starting over while the load is still
// over. GoOn once a measure after a wait finds the load at or below the threshold. StopSeen when a
// wait received the stop signal: `stopEvent` has then been closed and left empty. A wait that
// fails (an empty `stopEvent`) counts as one that ran out.
[[nodiscard]] GateOutcome PassResourceGate(os::UniqueHandle& stopEvent, bool& gateRan,
                                           const GateSettingsSource& settings,
                                           const IdleReporter& report = LogIdleReport);

// The machine's committed-memory load as the resource gate measures it, and the report of an
// idle period.
#pragma once

#include "platform/Windows.h"

// The memory-status entry point, looked up at run time. Process-wide and written by the worker
// thread alone; once found it stays for the life of the process.
struct MemoryStatusEntry {
    decltype(&::GlobalMemoryStatusEx) globalMemoryStatusEx = nullptr;
};
MemoryStatusEntry& MemoryStatusCache();

// Looks up "GlobalMemoryStatusEx" in "kernel32.dll" into the cache; true when it is known.
bool LoadMemoryStatusFunction();

// The committed-memory load in percent (CommittedLoadPercent of the page-file figures), looking up
// the entry point first if the cache has none. 0.0 when the entry point cannot be found; not a
// number when the total is 0 (the call's result is not looked at, so a failed call gives that
// too).
[[nodiscard]] double GetVirtualMemoryLoad();

// Writes the idle report to the event log through the service module, as a warning (which the
// module's LogEvent drops by design).
void LogIdleReport(const wchar_t* loadPercent, const wchar_t* idleMinutes);

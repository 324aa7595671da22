// How long the worker waits. The resource gate at the head of every cycle measures the machine's
// committed-memory load, idles while the load is over the threshold, and otherwise rests the
// ordinary interval between cycles; every wait ends at once on the stop. After a failed run, a
// replacement waits longer the more runs failed in a row. The gate is written over callables for
// the measure, the wait and the report, so that its decisions run the same natively and on
// Windows; the worker binds them to the memory status, the stop event and the event log.
#pragma once

#include <cstdint>
#include <functional>

// The settings that the gate reads at every pass, all as held in the settings record.
struct GateSettings {
    std::uint32_t mainLoopWait;    // milliseconds between cycles
    std::uint32_t vmThreshold;     // percent of committed memory above which the worker idles
    std::uint32_t vmInactiveTime;  // milliseconds of one idle period
};
// Called at every measure, so that a reload takes effect at the next one.
using GateSettingsSource = std::function<GateSettings()>;

// The committed-memory load in percent; not a number when it cannot be computed.
using LoadMeasure = std::function<double()>;

// Waits up to `timeoutMs` for the stop; true when the wait ended because of the stop. A wait that
// fails counts as one that ran out (false).
using StopWait = std::function<bool(std::uint32_t timeoutMs)>;

// Reports an idle period; the two texts are the load and the idle minutes, each formatted "%d".
using IdleReporter = std::function<void(const wchar_t* loadPercent, const wchar_t* idleMinutes)>;

// The warning that announces an idle period (string 127 is its text).
inline constexpr std::uint32_t kIdleReportEventId = 0x4000000A;

enum class GateOutcome { GoOn, StopSeen };

// (total - available) / total * 100 of the page-file figures; not a number when the total is 0.
[[nodiscard]] double CommittedLoadPercent(std::uint64_t totalPageFile,
                                          std::uint64_t availablePageFile);

// One pass of the gate. Measures; over VMThreshold (strictly) it reports the idle period and
// takes VMInactiveTime as the wait, otherwise MainLoopWait. Waits (except on the worker's first
// pass, while `gateRan` is clear); then sets `gateRan` and measures again, starting over while
// the load is still over. GoOn once a measure after a wait finds the load at or below the
// threshold; StopSeen when a wait received the stop. A load that is not a number is not over.
[[nodiscard]] GateOutcome PassResourceGate(bool& gateRan, const GateSettingsSource& settings,
                                           const LoadMeasure& measure, const StopWait& waitForStop,
                                           const IdleReporter& report);

// The pause before a replacement begins after `failures` consecutive failed runs: none before the
// first failure, then 1 s, doubling with every further failure up to 5 minutes, so that a fault
// that repeats on every run costs little.
[[nodiscard]] std::uint32_t ReplacementPauseMs(unsigned failures);

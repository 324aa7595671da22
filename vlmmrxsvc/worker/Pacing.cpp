#include "worker/Pacing.h"

#include <algorithm>
#include <climits>
#include <limits>
#include <string>

namespace {

constexpr double kPercent = 100.0;
constexpr std::uint32_t kMillisecondsPerMinute = 60000;
constexpr std::uint32_t kFirstReplacementPauseMs = 1000;
constexpr std::uint32_t kLongestReplacementPauseMs = 300000;

// A load that is not a number compares false, so it never counts as over.
bool OverThreshold(double load, std::uint32_t threshold)
{
    return load > static_cast<double>(threshold);
}

// The load truncated toward zero. Only loads over a threshold are reported, so it lies in
// (0, 100]; the bounds only keep the conversion defined whatever comes in.
int WholePercent(double load)
{
    if (!(load > 0.0)) {
        return 0;
    }
    return load >= static_cast<double>(INT_MAX) ? INT_MAX : static_cast<int>(load);
}

void ReportIdlePeriod(double load, std::uint32_t inactiveMs, const IdleReporter& report)
{
    // As "%d" formats them: the idle minutes as a signed number.
    const std::wstring percent = std::to_wstring(WholePercent(load));
    const std::wstring minutes =
        std::to_wstring(static_cast<int>(inactiveMs / kMillisecondsPerMinute));
    report(percent.c_str(), minutes.c_str());
}

}  // namespace

double CommittedLoadPercent(std::uint64_t totalPageFile, std::uint64_t availablePageFile)
{
    if (totalPageFile == 0) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    const auto total = static_cast<double>(totalPageFile);
    const auto available = static_cast<double>(availablePageFile);
    return (total - available) / total * kPercent;
}

GateOutcome PassResourceGate(bool& gateRan, const GateSettingsSource& settings,
                             const LoadMeasure& measure, const StopWait& waitForStop,
                             const IdleReporter& report)
{
    for (;;) {
        const GateSettings pass = settings();
        const double load = measure();
        std::uint32_t waitMs = pass.mainLoopWait;
        if (OverThreshold(load, pass.vmThreshold)) {
            ReportIdlePeriod(load, pass.vmInactiveTime, report);
            waitMs = pass.vmInactiveTime;
        }
        if (gateRan && waitForStop(waitMs)) {
            return GateOutcome::StopSeen;
        }
        gateRan = true;
        // Read again: a reload during a long idle period counts for this recheck.
        if (!OverThreshold(measure(), settings().vmThreshold)) {
            return GateOutcome::GoOn;
        }
    }
}

std::uint32_t ReplacementPauseMs(unsigned failures)
{
    if (failures == 0) {
        return 0;
    }
    std::uint32_t pause = kFirstReplacementPauseMs;
    for (unsigned doubling = 1; doubling < failures && pause < kLongestReplacementPauseMs;
         ++doubling) {
        pause *= 2;
    }
    return std::min(pause, kLongestReplacementPauseMs);
}

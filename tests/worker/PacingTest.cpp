// The worker's waits: the gate's decisions over scripted loads, settings and waits (what it
// reports and waits, in order), and the pause before a replacement.
#include "worker/Pacing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

constexpr std::size_t kStopAfterWaits = 8;  // a gate that never ends fails instead of hanging

// Answers the values in turn, the last one repeating.
template <typename T>
static std::function<T()> Script(std::vector<T> values)
{
    return [values, next = std::size_t{0}]() mutable {
        return values[std::min(next++, values.size() - 1)];
    };
}

TEST(Pacing, TheGateIdlesOnlyWhileTheLoadIsOverTheThreshold)
{
    const GateSettings usual{10000, 95, 300000};
    struct Case {
        const char* name;
        std::vector<GateSettings> settings;  // at each pass in turn
        std::vector<double> loads;           // of each measure in turn
        bool ranBefore;                      // whether the gate ran before
        bool stop;                           // whether a wait receives the stop
        std::vector<std::wstring> expected;  // the reports and waits in order
    };
    const Case cases[] = {
        {"LoadEqualToTheThreshold", {usual}, {95}, true, false, {L"wait 10000"}},
        // Page-file figures of 0 (a failed status call) give a load that is not a number.
        {"NaNIsNotOver", {{10000, 0, 300000}}, {CommittedLoadPercent(0, 0)}, true, false,
         {L"wait 10000"}},
        {"StillOverReportsAgain", {usual}, {97.9, 97.9, 97.9, 50}, true, false,
         {L"report 97 5", L"wait 300000", L"report 97 5", L"wait 300000"}},
        {"FirstPassOverReportsTwice", {usual}, {97.9, 97.9, 97.9, 50}, false, false,
         {L"report 97 5", L"report 97 5", L"wait 300000"}},
        {"StopInTheIdle", {usual}, {97.9}, true, true, {L"report 97 5", L"wait 300000"}},
        // The recheck after the idle period sees the threshold raised during it.
        {"SettingsReadAfresh", {usual, {10000, 98, 60000}}, {97.9}, true, false,
         {L"report 97 5", L"wait 300000"}},
    };
    for (const auto& [name, settings, loads, ranBefore, stop, expected] : cases) {
        std::vector<std::wstring> events;
        bool gateRan = ranBefore;
        const auto wait = [&](std::uint32_t timeoutMs) {
            events.push_back(L"wait " + std::to_wstring(timeoutMs));
            return stop || events.size() > kStopAfterWaits;
        };
        const auto report = [&](const wchar_t* load, const wchar_t* minutes) {
            events.push_back(std::wstring(L"report ") + load + L" " + minutes);
        };
        EXPECT_EQ(PassResourceGate(gateRan, Script(settings), Script(loads), wait, report),
                  stop ? GateOutcome::StopSeen : GateOutcome::GoOn) << name;
        EXPECT_EQ(events, expected) << name;
    }
    EXPECT_TRUE(std::isnan(CommittedLoadPercent(0, 0)));
}

TEST(Pacing, AReplacementWaitsLongerForEveryFailureInARowUpToFiveMinutes)
{
    struct Case {
        unsigned failures;
        std::uint32_t pauseMs;
    };
    const Case cases[] = {{0, 0},       {1, 1000},      {2, 2000},      {3, 4000},
                          {9, 256000},  {10, 300000},   {11, 300000},   {~0u, 300000}};
    for (const Case& row : cases) {
        EXPECT_EQ(ReplacementPauseMs(row.failures), row.pauseMs) << row.failures;
    }
}

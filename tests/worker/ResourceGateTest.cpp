// The resource gate and the memory-load measure against the fake kernel, whose waits run on a
// virtual clock and whose GlobalMemoryStatusEx answers from a script.
#include "worker/ResourceGate.h"

#include "platform/fake/FakePlatform.h"
#include "service/StopEvent.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using os::fake::FakeMemoryStatus;
using os::fake::FakePlatform;
using os::fake::FakeWait;

constexpr DWORD kMainLoopWait = 10000;
constexpr DWORD kInactiveTime = 300000;

// A page file of 1000 units of which `tenthsOfAPercent` are committed.
FakeMemoryStatus Load(DWORDLONG tenthsOfAPercent) { return {1000, 1000 - tenthsOfAPercent}; }

class ResourceGateTest : public ::testing::Test {
protected:
    ResourceGateTest()
    {
        MemoryStatusCache() = {};
        fake.kernel.SetWaitHook([this](const FakeWait& wait) {
            events.push_back(L"wait " + std::to_wstring(wait.timeoutMs));
            if (onWait) {
                onWait();
            }
        });
    }
    ~ResourceGateTest() override { MemoryStatusCache() = {}; }

    GateOutcome Pass()
    {
        return PassResourceGate(
            stopEvent, gateRan, [this] { return settings; },
            [this](const wchar_t* load, const wchar_t* minutes) {
                events.push_back(std::wstring(L"report ") + load + L" " + minutes);
            });
    }

    FakePlatform fake;
    os::UniqueHandle stopOwner{fake.kernel.CreateEventW(TRUE, FALSE, kStopEventName)};
    os::UniqueHandle stopEvent{OpenStopEvent()};
    bool gateRan = true;
    GateSettings settings{kMainLoopWait, 95, kInactiveTime};
    std::vector<std::wstring> events;  // reports and waits, in order
    std::function<void()> onWait;
};

struct GateCase {
    const char* name;
    DWORD threshold;
    bool gateRan;
    std::vector<FakeMemoryStatus> loads;  // one per measure; the last repeats
    std::vector<std::wstring> events;
};

TEST_F(ResourceGateTest, IdlesOnlyWhileTheLoadIsOverTheThreshold)
{
    const std::vector<GateCase> cases = {
        {"LoadEqualToTheThresholdWorks", 95, true, {Load(950)}, {L"wait 10000"}},
        {"Threshold100NeverIdles", 100, true, {Load(1000)}, {L"wait 10000"}},
        {"Threshold0IdlesOnAnyCommit", 0, true, {Load(1), Load(0)},
         {L"report 0 5", L"wait 300000"}},
        {"NoCommitTotalIsNotOver", 0, true, {{0, 0}}, {L"wait 10000"}},
        {"AFailedStatusCallIsNotOver", 0, true, {{1000, 0, FALSE}}, {L"wait 10000"}},
        {"FirstPassDoesNotWait", 95, false, {Load(500)}, {}},
        {"ReportsLoadAndMinutesTruncated", 95, true, {Load(979), Load(979), Load(500)},
         {L"report 97 5", L"wait 300000", L"wait 10000"}},
        {"FirstPassOverReportsTwiceBeforeTheFirstIdle", 95, false,
         {Load(979), Load(979), Load(979), Load(500)},
         {L"report 97 5", L"report 97 5", L"wait 300000"}},
    };
    for (const auto& gate : cases) {
        SCOPED_TRACE(gate.name);
        events.clear();
        gateRan = gate.gateRan;
        settings.vmThreshold = gate.threshold;
        fake.kernel.ScriptMemoryStatus(gate.loads);
        EXPECT_EQ(Pass(), GateOutcome::GoOn);
        EXPECT_EQ(events, gate.events);
        EXPECT_TRUE(gateRan);
        EXPECT_TRUE(stopEvent);
    }
}

TEST_F(ResourceGateTest, AStopDuringTheIdlePeriodEndsTheGateAtOnce)
{
    fake.kernel.ScriptMemoryStatus({Load(979)});
    onWait = [this] { fake.kernel.SetEvent(stopOwner.get()); };
    const DWORD before = fake.kernel.GetTickCount();
    EXPECT_EQ(Pass(), GateOutcome::StopSeen);
    EXPECT_EQ(events, (std::vector<std::wstring>{L"report 97 5", L"wait 300000"}));
    EXPECT_EQ(fake.kernel.GetTickCount(), before);
    EXPECT_FALSE(stopEvent);  // closed by the gate
    EXPECT_EQ(fake.OpenResourceCount(), 1u);
}

TEST_F(ResourceGateTest, AStopAlreadySignalledEndsTheOrdinaryWait)
{
    fake.kernel.SetEvent(stopOwner.get());
    fake.kernel.ScriptMemoryStatus({Load(500)});
    EXPECT_EQ(Pass(), GateOutcome::StopSeen);
    EXPECT_FALSE(stopEvent);
    // The first pass of a run does not wait, so it cannot see the stop.
    stopEvent = OpenStopEvent();
    gateRan = false;
    EXPECT_EQ(Pass(), GateOutcome::GoOn);
}

TEST_F(ResourceGateTest, AFailedWaitCountsAsOneThatRanOut)
{
    stopEvent.reset();
    fake.kernel.ScriptMemoryStatus({Load(979), Load(500)});
    EXPECT_EQ(Pass(), GateOutcome::GoOn);
    EXPECT_EQ(events, (std::vector<std::wstring>{L"report 97 5"}));  // the wait failed at once
}

TEST_F(ResourceGateTest, ReadsTheSettingsAgainAfterEveryWait)
{
    fake.kernel.ScriptMemoryStatus({Load(979)});
    onWait = [this] { settings = {kMainLoopWait, 98, 60000}; };
    EXPECT_EQ(Pass(), GateOutcome::GoOn);
    EXPECT_EQ(events, (std::vector<std::wstring>{L"report 97 5", L"wait 300000"}));
    events.clear();
    EXPECT_EQ(Pass(), GateOutcome::GoOn);
    EXPECT_EQ(events, (std::vector<std::wstring>{L"wait 10000"}));
}

TEST_F(ResourceGateTest, ReportsTheWholeLoadAndTheIdleTimeInWholeMinutes)
{
    settings = {kMainLoopWait, 0, 0xFFFFFFFF};
    gateRan = false;  // an idle period that long would be an infinite wait
    fake.kernel.ScriptMemoryStatus({Load(1000), Load(0)});
    EXPECT_EQ(Pass(), GateOutcome::GoOn);
    EXPECT_EQ(events.front(), L"report 100 71582");
    events.clear();
    settings.vmInactiveTime = 59999;
    fake.kernel.ScriptMemoryStatus({Load(5), Load(0)});
    EXPECT_EQ(Pass(), GateOutcome::GoOn);
    EXPECT_EQ(events.front(), L"report 0 0");
}

TEST_F(ResourceGateTest, MeasuresThePageFileCommittedAndKeepsTheEntryPoint)
{
    fake.kernel.ScriptMemoryStatus({{4096, 1024}, {4096, 4096}, {1000, 2000}});
    EXPECT_DOUBLE_EQ(GetVirtualMemoryLoad(), 75.0);
    EXPECT_DOUBLE_EQ(GetVirtualMemoryLoad(), 0.0);
    EXPECT_DOUBLE_EQ(GetVirtualMemoryLoad(), -100.0);  // the figures are taken as they come
    EXPECT_EQ(fake.kernel.LoadLibraryCount(L"KERNEL32.DLL"), 1);
    EXPECT_EQ(fake.kernel.MemoryStatusCalls(), 3);
}

TEST_F(ResourceGateTest, WithoutTheEntryPointTheLoadIsZeroAndItIsLookedForAtEveryMeasure)
{
    for (const bool moduleMissing : {true, false}) {
        SCOPED_TRACE(moduleMissing ? "no kernel32.dll" : "no GlobalMemoryStatusEx");
        FakePlatform platform;
        MemoryStatusCache() = {};
        if (moduleMissing) {
            platform.kernel.RemoveModule(L"kernel32.dll");
        } else {
            platform.kernel.RemoveExport(L"kernel32.dll", "GlobalMemoryStatusEx");
        }
        EXPECT_FALSE(LoadMemoryStatusFunction());
        EXPECT_EQ(GetVirtualMemoryLoad(), 0.0);
        EXPECT_EQ(GetVirtualMemoryLoad(), 0.0);
        EXPECT_EQ(platform.kernel.LoadLibraryCount(L"kernel32.dll"), 3);
        EXPECT_EQ(platform.kernel.MemoryStatusCalls(), 0);

        bool ran = true;
        os::UniqueHandle none;
        const GateOutcome outcome = PassResourceGate(
            none, ran, [] { return GateSettings{kMainLoopWait, 0, kInactiveTime}; },
            [](const wchar_t*, const wchar_t*) { ADD_FAILURE() << "reported"; });
        EXPECT_EQ(outcome, GateOutcome::GoOn);
    }
}

}  // namespace

#include "service/ThreadShutdown.h"

#include "platform/UniqueResource.h"

#include <gtest/gtest.h>

#include <chrono>
#include <process.h>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr DWORD kPoliteExitCode = 7;

struct Reports {
    int count = 0;
    std::function<void()> callback() { return [this] { ++count; }; }
};

unsigned WINAPI EndsOnTheStopEvent(void* event)
{
    ::WaitForSingleObject(static_cast<HANDLE>(event), INFINITE);
    return kPoliteExitCode;
}

unsigned WINAPI IgnoresTheStopEvent(void*)
{
    ::Sleep(INFINITE);
    return kPoliteExitCode;
}

HANDLE Begin(unsigned(WINAPI* procedure)(void*), HANDLE event)
{
    return reinterpret_cast<HANDLE>(::_beginthreadex(nullptr, 0, procedure, event, 0, nullptr));
}

DWORD ExitCode(HANDLE thread)
{
    DWORD code = STILL_ACTIVE;
    ::GetExitCodeThread(thread, &code);
    return code;
}

class StopThreadsTest : public ::testing::Test {
protected:
    os::UniqueHandle stopEvent{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    Reports reports;
};

TEST_F(StopThreadsTest, ThreadsThatHeedTheSignalEndOnTheirOwn)
{
    os::UniqueHandle worker(Begin(EndsOnTheStopEvent, stopEvent.get()));
    os::UniqueHandle watcher(Begin(EndsOnTheStopEvent, stopEvent.get()));
    const auto started = Clock::now();
    StopThreads(stopEvent.get(), worker.get(), watcher.get(), reports.callback());

    EXPECT_LT(Clock::now() - started, milliseconds(kThreadStopGraceMs));
    EXPECT_EQ(ExitCode(worker.get()), kPoliteExitCode);
    EXPECT_EQ(ExitCode(watcher.get()), kPoliteExitCode);
    EXPECT_GE(reports.count, 1);
}

TEST_F(StopThreadsTest, AThreadThatIgnoresTheSignalIsTerminatedAfterTheGracePeriod)
{
    os::UniqueHandle worker(Begin(IgnoresTheStopEvent, nullptr));
    os::UniqueHandle watcher(Begin(EndsOnTheStopEvent, stopEvent.get()));
    const auto started = Clock::now();
    StopThreads(stopEvent.get(), worker.get(), watcher.get(), reports.callback());
    const auto took = Clock::now() - started;

    EXPECT_GE(took, milliseconds(kThreadStopGraceMs));
    EXPECT_LT(took, milliseconds(5 * kThreadStopGraceMs));  // bounded, not hung
    EXPECT_EQ(ExitCode(worker.get()), 0u);
    EXPECT_EQ(ExitCode(watcher.get()), kPoliteExitCode);
    // One report per poll for the whole grace period.
    EXPECT_GE(reports.count, static_cast<int>(kThreadStopGraceMs / kThreadStopPollMs) / 2);
}

TEST_F(StopThreadsTest, AThreadThatWasNeverCreatedCountsAsEnded)
{
    os::UniqueHandle watcher(Begin(EndsOnTheStopEvent, stopEvent.get()));
    StopThreads(stopEvent.get(), nullptr, watcher.get(), reports.callback());
    EXPECT_EQ(ExitCode(watcher.get()), kPoliteExitCode);

    Reports none;
    StopThreads(stopEvent.get(), nullptr, nullptr, none.callback());
    EXPECT_EQ(none.count, 1);  // one pass, then both count as ended
}

}  // namespace

#include "service/Waits.h"

#include "platform/UniqueResource.h"
#include "platform/fake/FakePlatform.h"

#include <gtest/gtest.h>

namespace {

using os::fake::FakePlatform;
using os::fake::FakeWait;

constexpr DWORD kTimeoutMs = 500;

class WaitWithMessagePumpTest : public ::testing::Test {
protected:
    FakePlatform fake;
    os::UniqueHandle first{fake.kernel.CreateEventW(TRUE, FALSE, nullptr)};
    os::UniqueHandle second{fake.kernel.CreateEventW(TRUE, FALSE, nullptr)};
    HANDLE both[2] = {first.get(), second.get()};
};

TEST_F(WaitWithMessagePumpTest, ReturnsTheIndexOfTheSignalledHandleOrTheTimeout)
{
    EXPECT_EQ(WaitWithMessagePump(2, both, 0), WAIT_TIMEOUT);
    fake.kernel.SetEvent(second.get());
    EXPECT_EQ(WaitWithMessagePump(2, both, INFINITE), 1u);
    EXPECT_EQ(WaitWithMessagePump(0, nullptr, 0), WAIT_TIMEOUT);
}

TEST_F(WaitWithMessagePumpTest, DispatchesMessagesAndWaitsAgainWithTheWholeTimeout)
{
    fake.kernel.PostToCurrentThread(WM_USER, 1);
    fake.kernel.PostToCurrentThread(WM_USER, 2);
    EXPECT_EQ(WaitWithMessagePump(2, both, kTimeoutMs), WAIT_TIMEOUT);

    const auto dispatched = fake.kernel.Dispatched();
    ASSERT_EQ(dispatched.size(), 2u);
    EXPECT_EQ(dispatched[0].wParam, 1u);
    EXPECT_EQ(dispatched[1].wParam, 2u);
    const auto waits = fake.kernel.Waits();
    ASSERT_EQ(waits.size(), 2u);  // one interrupted by the messages, one that timed out
    for (const FakeWait& wait : waits) {
        EXPECT_EQ(wait.timeoutMs, kTimeoutMs);
        EXPECT_EQ(wait.handleCount, 2u);
    }
}

TEST_F(WaitWithMessagePumpTest, ConsumesAQuitMessageAndStopsTakingMessagesAtIt)
{
    fake.kernel.PostToCurrentThread(WM_QUIT);
    fake.kernel.PostToCurrentThread(WM_USER, 7);
    // The message after the quit waits for the next round; a signal that comes with it ends the
    // wait before that round dispatches it.
    fake.kernel.SetDispatchHook([&](const MSG& message) {
        if (message.message == WM_QUIT) {
            fake.kernel.SetEvent(first.get());
        }
    });
    EXPECT_EQ(WaitWithMessagePump(2, both, kTimeoutMs), 0u);

    const auto dispatched = fake.kernel.Dispatched();
    ASSERT_EQ(dispatched.size(), 1u);
    EXPECT_EQ(dispatched[0].message, static_cast<UINT>(WM_QUIT));
    MSG left{};
    ASSERT_TRUE(fake.kernel.PeekMessageW(&left, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(left.message, WM_USER);
    EXPECT_FALSE(fake.kernel.PeekMessageW(&left, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(WaitWithMessagePumpTest, ReportsAFailedWait)
{
    HANDLE closed = fake.kernel.CreateEventW(TRUE, FALSE, nullptr);
    fake.kernel.CloseHandle(closed);
    EXPECT_EQ(WaitWithMessagePump(1, &closed, kTimeoutMs), WAIT_FAILED);
}

TEST(SetPrivilege, EnablesAndDisablesOnlyWhatTheTokenHolds)
{
    FakePlatform fake;
    fake.security.Hold(L"SeDebugPrivilege");
    os::UniqueHandle token;
    ASSERT_TRUE(fake.security.OpenCurrentProcessToken(TOKEN_ADJUST_PRIVILEGES, token.put()));

    EXPECT_TRUE(SetPrivilege(token.get(), L"SeDebugPrivilege", true));
    EXPECT_TRUE(fake.security.IsEnabled(L"SeDebugPrivilege"));
    EXPECT_TRUE(SetPrivilege(token.get(), L"SeDebugPrivilege", false));
    EXPECT_FALSE(fake.security.IsEnabled(L"SeDebugPrivilege"));

    EXPECT_FALSE(SetPrivilege(token.get(), L"SeLockMemoryPrivilege", true));
    EXPECT_EQ(fake.errors.GetLastError(), ERROR_NOT_ALL_ASSIGNED);
    EXPECT_FALSE(SetPrivilege(nullptr, L"SeDebugPrivilege", true));
}

}  // namespace

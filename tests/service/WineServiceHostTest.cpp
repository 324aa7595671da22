// The service host's own machinery against the real calls: the switch scan over the real string
// table, the stop event and the bounded stop of the threads, the waits that dispatch messages,
// privileges, and what the event-log writer lets through.
#include "process/Impersonate.h"
#include "platform/Waits.h"
#include "service/ServiceModule.h"

#include "EventLogDouble.h"

#include <gtest/gtest.h>
#include <sddl.h>

#include <chrono>

namespace {

using namespace std::chrono;

constexpr DWORD kHeeded = 7;  // a terminated thread's exit code is 0 instead

TEST(WineServiceHost, OnlyASwitchThatEndsTheCommandLineCounts)
{
    using enum CommandLineSwitch;
    const std::pair<const wchar_t*, CommandLineSwitch> cases[] = {
        {L"\"C:\\Program Files\\vlm-mrx\\x.exe\" -Service", Service}, {L"x /service", Service},
        {L"x -UNREGSERVER", UnregServer}, {L"x /RegServer", RegServer}, {L"x -Service ", None},
        {L"x -Service now", None}, {L"x Service", None}, {L"x -", None}, {L"\"C:\\a-b\\x\"", None},
        // The scan goes on from inside a token that matched nothing.
        {L"x -RegServer -Service", Service}, {L"x --Service", Service}};
    const CServiceModule module;
    for (const auto& [line, expected] : cases) {
        EXPECT_EQ(module.ParseCommandLine(line), expected) << testing::PrintToString(line);
    }
}

TEST(WineServiceHost, TheStopEventStopsTheThreadsThatHeedItAndTheRestAfterTheGrace)
{
    EXPECT_FALSE(OpenStopEvent());
    const os::UniqueHandle event = CreateNamedEvent(kStopEventName);
    const os::UniqueHandle opened = OpenStopEvent();
    ASSERT_TRUE(event && opened);
    BYTE descriptor[256] = {};
    DWORD size = sizeof descriptor;
    wchar_t* text = nullptr;
    ASSERT_TRUE(::GetKernelObjectSecurity(event.get(), DACL_SECURITY_INFORMATION, descriptor,
                                          size, &size) &&
                ::ConvertSecurityDescriptorToStringSecurityDescriptorW(
                    descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr));
    EXPECT_STREQ(text, L"D:(A;;0x1f0003;;;WD)");  // EVENT_ALL_ACCESS for Everyone alone
    ::LocalFree(text);

    const os::UniqueHandle ignoring(::CreateThread(
        nullptr, 0, [](void*) -> DWORD { ::Sleep(INFINITE); return kHeeded; }, nullptr, 0,
        nullptr));
    const os::UniqueHandle heeding(::CreateThread(
        nullptr, 0, [](void* e) -> DWORD { ::WaitForSingleObject(e, INFINITE); return kHeeded; },
        opened.get(), 0, nullptr));
    EXPECT_EQ(::WaitForSingleObject(heeding.get(), 100), DWORD{WAIT_TIMEOUT});  // unsignalled
    const auto started = steady_clock::now();
    StopThreads(event.get(), ignoring.get(), heeding.get(), [] {});
    // The tick count behind the grace period may run a tick behind the clock.
    EXPECT_GE(steady_clock::now() - started, milliseconds(kThreadStopGraceMs - 20));
    DWORD exitCode = STILL_ACTIVE;
    EXPECT_TRUE(::GetExitCodeThread(ignoring.get(), &exitCode) && exitCode == 0);
    EXPECT_TRUE(::GetExitCodeThread(heeding.get(), &exitCode) && exitCode == kHeeded);
    EXPECT_EQ(::WaitForSingleObject(opened.get(), 0), WAIT_OBJECT_0);  // manual reset: stays set
    int looks = 0;  // threads never created count as ended
    StopThreads(event.get(), nullptr, nullptr, [&looks] { ++looks; });
    EXPECT_EQ(looks, 1);
}

TEST(WineServiceHost, AWaitDispatchesMessagesAndWaitsTheWholeTimeAgainAndConsumesAQuit)
{
    const os::UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const HANDLE handles[] = {event.get()};
    EXPECT_EQ(WaitWithMessagePump(1, handles, 0), DWORD{WAIT_TIMEOUT});
    static int dispatched = 0;
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 50, [](HWND, UINT, UINT_PTR id, DWORD) {
        ++dispatched;
        ::KillTimer(nullptr, id);
    });
    const auto started = steady_clock::now();
    EXPECT_EQ(WaitWithMessagePump(1, handles, 200), DWORD{WAIT_TIMEOUT});
    EXPECT_EQ(dispatched, 1);  // the timer's message, then 200 ms more from it
    EXPECT_GE(steady_clock::now() - started, milliseconds(240));
    ::KillTimer(nullptr, timer);
    ::PostThreadMessageW(::GetCurrentThreadId(), WM_QUIT, 0, 0);
    EXPECT_EQ(WaitWithMessagePump(1, handles, 50), DWORD{WAIT_TIMEOUT});
    MSG message{};
    EXPECT_FALSE(::PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));  // consumed
    const HANDLE closed[] = {nullptr};
    EXPECT_EQ(WaitWithMessagePump(1, closed, 50), WAIT_FAILED);
}

TEST(WineServiceHost, APrivilegeIsSetOnlyWhenTheTokenHoldsItAndOnlyErrorsAreLogged)
{
    os::UniqueHandle token;
    ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, token.put()));
    EXPECT_TRUE(SetPrivilege(token.get(), SE_DEBUG_NAME, true));
    EXPECT_FALSE(SetPrivilege(token.get(), SE_LOCK_MEMORY_NAME, true));
    const testing_support::EventLogDouble log;
    CServiceModule module;
    module.InitModule(nullptr);
    module.LogEvent(EVENTLOG_WARNING_TYPE, 0x80000008, L"dropped");
    module.LogEvent(EVENTLOG_INFORMATION_TYPE, 0x4000000A, L"dropped");
    module.LogEvent(EVENTLOG_ERROR_TYPE, 0xC0000010, nullptr, L"b", L"c");
    EXPECT_EQ(testing_support::g_loggedEvents,
              (std::vector<testing_support::LoggedEvent>{
                  {WORD{EVENTLOG_ERROR_TYPE}, DWORD{0xC0000010}, {L"b", L"c"}}}));
}

}  // namespace

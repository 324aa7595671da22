// The service host's own machinery against the real calls: the switch scan over the real string
// table, the stop event and the bounded stop of the threads.
#include "service/ServiceModule.h"
#include "service/StopEvent.h"
#include "service/ThreadShutdown.h"

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

}  // namespace

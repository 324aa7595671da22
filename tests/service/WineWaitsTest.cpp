// The shared waits and the privilege switch against the real Windows calls.
#include "service/Waits.h"

#include "platform/UniqueResource.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

constexpr UINT kProbeMessage = WM_USER + 7;
constexpr DWORD kWaitMs = 300;
constexpr auto kPostAfter = std::chrono::milliseconds(150);

int g_probesDispatched = 0;

LRESULT CALLBACK ProbeWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == kProbeMessage) {
        ++g_probesDispatched;
        return 0;
    }
    return ::DefWindowProcW(window, message, wParam, lParam);
}

// A message-only window, so that a dispatched message can be seen arriving.
class ProbeWindow {
public:
    ProbeWindow()
    {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = ProbeWindowProc;
        windowClass.hInstance = ::GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"VlmProbeWindow";
        ::RegisterClassW(&windowClass);
        window_ = ::CreateWindowExW(0, L"VlmProbeWindow", L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                    nullptr, windowClass.hInstance, nullptr);
    }
    ~ProbeWindow() { ::DestroyWindow(window_); }
    HWND get() const { return window_; }

private:
    HWND window_ = nullptr;
};

TEST(WaitWithMessagePump, TimesOutAtOnceWithATimeoutOfZero)
{
    os::UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const HANDLE handles[] = {event.get()};
    EXPECT_EQ(WaitWithMessagePump(1, handles, 0), WAIT_TIMEOUT);
    ::SetEvent(event.get());
    EXPECT_EQ(WaitWithMessagePump(1, handles, 0), 0u);
}

TEST(WaitWithMessagePump, DispatchesAPostedMessageAndWaitsTheWholeTimeoutAgain)
{
    ProbeWindow window;
    ASSERT_NE(window.get(), nullptr);
    os::UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const HANDLE handles[] = {event.get()};
    g_probesDispatched = 0;

    const HWND target = window.get();
    std::thread poster([target] {
        std::this_thread::sleep_for(kPostAfter);
        ::PostMessageW(target, kProbeMessage, 0, 0);
    });
    const auto started = std::chrono::steady_clock::now();
    const DWORD result = WaitWithMessagePump(1, handles, kWaitMs);
    const auto waited = std::chrono::steady_clock::now() - started;
    poster.join();

    EXPECT_EQ(result, WAIT_TIMEOUT);
    EXPECT_EQ(g_probesDispatched, 1);
    // The wait began anew after the message, so it lasted the post delay plus a whole time-out.
    EXPECT_GE(waited, kPostAfter + std::chrono::milliseconds(kWaitMs) - std::chrono::milliseconds(20));
}

TEST(WaitWithMessagePump, ConsumesAQuitMessage)
{
    os::UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const HANDLE handles[] = {event.get()};
    ::PostThreadMessageW(::GetCurrentThreadId(), WM_QUIT, 0, 0);
    EXPECT_EQ(WaitWithMessagePump(1, handles, 50), WAIT_TIMEOUT);
    MSG left{};
    EXPECT_FALSE(::PeekMessageW(&left, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

TEST(WaitWithMessagePump, FailsOnAHandleThatIsNotOpen)
{
    HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ::CloseHandle(event);
    EXPECT_EQ(WaitWithMessagePump(1, &event, 50), WAIT_FAILED);
}

TEST(SetPrivilege, EnablesAHeldPrivilegeAndRefusesOneTheTokenLacks)
{
    os::UniqueHandle token;
    ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY,
                                   token.put()));
    EXPECT_TRUE(SetPrivilege(token.get(), SE_DEBUG_NAME, true));
    EXPECT_TRUE(SetPrivilege(token.get(), SE_IMPERSONATE_NAME, true));
    EXPECT_FALSE(SetPrivilege(token.get(), SE_LOCK_MEMORY_NAME, true));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_NOT_ALL_ASSIGNED));
}

}  // namespace

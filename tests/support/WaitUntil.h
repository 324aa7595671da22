// A bounded wait for something another process or thread brings about.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace testing_support {

// Polls `condition` until it holds or `timeout` passes; whether it held at the end.
inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::steady_clock::duration timeout = std::chrono::seconds(15))
{
    constexpr auto kPoll = std::chrono::milliseconds(10);
    for (const auto deadline = std::chrono::steady_clock::now() + timeout;
         !condition() && std::chrono::steady_clock::now() < deadline;) {
        std::this_thread::sleep_for(kPoll);
    }
    return condition();
}

}  // namespace testing_support

// The bounded stop of the service's threads.
#pragma once

#include "platform/Windows.h"

#include <functional>

// How long the threads get after the stop signal before they are terminated.
inline constexpr DWORD kThreadStopGraceMs = 1000;
// Pause between two looks at the threads, each preceded by a stop-pending report.
inline constexpr DWORD kThreadStopPollMs = 50;

// Signals `stopEvent` and waits until `worker` and `watcher` have ended, calling
// `reportStopPending` before every look. A thread still running kThreadStopGraceMs after the
// signal is terminated with exit code 0. A null thread handle counts as a thread that has ended.
void StopThreads(HANDLE stopEvent, HANDLE worker, HANDLE watcher,
                 const std::function<void()>& reportStopPending);

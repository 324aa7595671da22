#include "service/ThreadShutdown.h"

namespace {

// STILL_ACTIVE while the thread runs. A thread that was never created, or whose exit code cannot
// be read any more, has nothing left to wait for and counts as ended.
DWORD ExitCodeOf(HANDLE thread)
{
    DWORD exitCode = 0;
    if (thread == nullptr || !::GetExitCodeThread(thread, &exitCode)) {
        return 0;
    }
    return exitCode;
}

// Only a thread that is still running is terminated: Wine overwrites the exit code of a thread
// that has already ended, where Windows leaves it alone.
void TerminateIfRunning(HANDLE thread)
{
    if (ExitCodeOf(thread) == STILL_ACTIVE) {
        ::TerminateThread(thread, 0);
    }
}

}  // namespace

void StopThreads(HANDLE stopEvent, HANDLE worker, HANDLE watcher,
                 const std::function<void()>& reportStopPending)
{
    ::SetEvent(stopEvent);
    DWORD workerExit = STILL_ACTIVE;
    DWORD watcherExit = STILL_ACTIVE;
    const DWORD signalledAt = ::GetTickCount();
    while (workerExit == STILL_ACTIVE || watcherExit == STILL_ACTIVE) {
        reportStopPending();
        ::Sleep(kThreadStopPollMs);
        // Unsigned subtraction keeps the elapsed time right across the tick count's wrap.
        if (::GetTickCount() - signalledAt > kThreadStopGraceMs) {
            TerminateIfRunning(worker);
            TerminateIfRunning(watcher);
        }
        workerExit = ExitCodeOf(worker);
        watcherExit = ExitCodeOf(watcher);
    }
}

// What the service does between the dispatcher's call of ServiceMain and SERVICE_STOPPED.
#include "service/ServiceModule.h"

#include "platform/Waits.h"
#include "service/DriverControl.h"
#include "settings/SettingsLoader.h"

#include <process.h>

namespace {

constexpr DWORD kPendingWaitHintMs = 30000;

// Makes sure the calling thread has a message queue, so that a WM_QUIT posted to it before its
// message loop runs is kept rather than lost.
void CreateMessageQueue()
{
    MSG message{};
    ::PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
}

HANDLE BeginThread(unsigned(WINAPI* procedure)(void*), void* context, unsigned flags)
{
    return reinterpret_cast<HANDLE>(
        ::_beginthreadex(nullptr, 0, procedure, context, flags, nullptr));
}

// Empties the service's working set once it has started, then restores the limits it had.
void TrimWorkingSet()
{
    SIZE_T minimum = 0;
    SIZE_T maximum = 0;
    const HANDLE self = ::GetCurrentProcess();
    const BOOL haveLimits = ::GetProcessWorkingSetSize(self, &minimum, &maximum);
    ::SetProcessWorkingSetSize(self, static_cast<SIZE_T>(-1), static_cast<SIZE_T>(-1));
    if (haveLimits) {
        ::SetProcessWorkingSetSize(self, minimum, maximum);
    }
}

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

bool CServiceModule::StartWorker()
{
    const std::lock_guard lock(workerLock_);
    if (stopping_) {
        return false;
    }
    os::UniqueHandle worker(BeginThread(WorkerThreadProc, &workerContext_, CREATE_SUSPENDED));
    if (!worker) {
        return false;
    }
    ::SetThreadPriority(worker.get(), THREAD_PRIORITY_ABOVE_NORMAL);
    ::ResumeThread(worker.get());
    retiredWorker_ = std::move(worker_);
    worker_ = std::move(worker);
    return true;
}

HANDLE CServiceModule::BeginStop()
{
    const std::lock_guard lock(workerLock_);
    stopping_ = true;
    return worker_.get();
}

void WINAPI CServiceModule::ServiceMain(DWORD, wchar_t**)
{
    CServiceModule& module = Module();
    module.status.dwCurrentState = SERVICE_START_PENDING;
    // The control handler can run as soon as it is registered; it posts the stop to threadId.
    CreateMessageQueue();
    module.threadId = ::GetCurrentThreadId();
    module.statusHandle = ::RegisterServiceCtrlHandlerW(module.serviceName.c_str(), Handler);
    if (module.statusHandle == nullptr) {
        return;
    }
    module.ReportStatus(SERVICE_START_PENDING);
    module.status.dwWin32ExitCode = 0;
    module.status.dwCheckPoint = 0;
    module.status.dwWaitHint = 0;

    module.Run();

    module.status.dwCurrentState = SERVICE_STOPPED;
    ::SetServiceStatus(module.statusHandle, &module.status);
}

void WINAPI CServiceModule::Handler(DWORD control)
{
    // Only the stop is handled; the stop-pending reports come from Run on the service thread.
    if (control == SERVICE_CONTROL_STOP) {
        ::PostThreadMessageW(Module().threadId, WM_QUIT, 0, 0);
        ::Sleep(0);
    }
}

void CServiceModule::ReportStatus(DWORD state)
{
    status.dwCurrentState = state;
    if (state == SERVICE_STOP_PENDING) {
        ::OutputDebugStringW(L"Setting service control status to stop pending\r\n");
    }
    if (state == SERVICE_STOP_PENDING || state == SERVICE_START_PENDING) {
        ++status.dwCheckPoint;
        status.dwWaitHint = kPendingWaitHintMs;
    }
    ::SetServiceStatus(statusHandle, &status);
}

void CServiceModule::Run()
{
    if (isService != FALSE) {
        status.dwCurrentState = SERVICE_RUNNING;
        ::SetServiceStatus(statusHandle, &status);
    }
    CreateMessageQueue();
    threadId = ::GetCurrentThreadId();

    if (!LoadSettings()) {
        status.dwWin32ExitCode = kSettingsNotLoaded;
        return;
    }
    // The driver is optional: start and stop go on the same whether or not it took the code.
    static_cast<void>(SendDriverControl(IOCTL_ALTSTR_SERVICE_START));

    os::UniqueHandle stopEvent = CreateNamedEvent(kStopEventName);
    if (stopEvent) {
        ::ResetEvent(stopEvent.get());
    }
    os::UniqueHandle watcher(BeginThread(RegistryWatchThreadProc, &watcherContext_, 0));
    static_cast<void>(StartWorker());
    TrimWorkingSet();

    // GetMessageW gives -1 only for a bad window handle, which a null filter cannot be; stopping
    // at it all the same keeps the loop from spinning.
    MSG message{};
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::DispatchMessageW(&message);
    }

    const HANDLE worker = BeginStop();
    if (stopEvent) {
        StopThreads(stopEvent.get(), worker, watcher.get(),
                    [this] { ReportStatus(SERVICE_STOP_PENDING); });
        stopEvent.reset();
    }
    watcher.reset();
    ReportStatus(SERVICE_STOP_PENDING);
    static_cast<void>(SendDriverControl(IOCTL_ALTSTR_SERVICE_STOP));
}

bool CServiceModule::LoadSettings()
{
    if (!::LoadSettings(settings, exclusionLists, platform.systemOptimizationLevel)) {
        return false;
    }
    ::Sleep(kSettingsSettleMs);
    // The driver is optional: the service runs the same whether or not it took the code.
    static_cast<void>(SendDriverControl(IOCTL_ALTSTR_SETTINGS_LOADED));
    return true;
}

bool CServiceModule::SendDriverControl(DWORD code)
{
    // Opened afresh for each code and closed at once: no handle keeps the driver busy between
    // codes.
    const os::UniqueFile device(::CreateFileW(kStreamDriverDevice, GENERIC_READ | GENERIC_WRITE, 0,
                                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                              nullptr));
    if (!device) {
        return false;
    }
    DWORD returned = 0;
    return ::DeviceIoControl(device.get(), code, nullptr, 0, nullptr, 0, &returned, nullptr) !=
           FALSE;
}

#include "platform/fake/FakeKernel.h"

#include <algorithm>

namespace os::fake {
namespace {

constexpr std::uintptr_t kHandleStep = 4;  // kernel handle values are multiples of four
thread_local DWORD t_lastError = ERROR_SUCCESS;

}  // namespace

HANDLE FakeHandleTable::Insert(std::shared_ptr<FakeObject> object)
{
    const std::lock_guard lock(mutex_);
    const std::uintptr_t value = next_;
    next_ += kHandleStep;
    handles_.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

bool FakeHandleTable::Close(HANDLE handle)
{
    std::shared_ptr<FakeObject> closed;  // destroyed after the lock is released
    const std::lock_guard lock(mutex_);
    const auto found = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == handles_.end()) {
        return false;
    }
    closed = std::move(found->second);
    handles_.erase(found);
    return true;
}

std::shared_ptr<FakeObject> FakeHandleTable::LookupObject(HANDLE handle) const
{
    const std::lock_guard lock(mutex_);
    const auto found = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
    return found == handles_.end() ? nullptr : found->second;
}

std::size_t FakeHandleTable::OpenCount() const
{
    const std::lock_guard lock(mutex_);
    return handles_.size();
}

DWORD FakeErrors::GetLastError() { return t_lastError; }
void FakeErrors::SetLastError(DWORD error) { t_lastError = error; }

BOOL FakeKernel::CloseHandle(HANDLE handle)
{
    if (!handles_.Close(handle)) {
        errors_.SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

HANDLE FakeKernel::CreateEventW(BOOL manualReset, BOOL initialState, const wchar_t* name)
{
    std::shared_ptr<FakeEvent> event;
    {
        const std::lock_guard lock(mutex_);
        if (name != nullptr) {
            event = namedEvents_[name].lock();
        }
        if (event == nullptr) {
            event = std::make_shared<FakeEvent>(manualReset != FALSE, initialState != FALSE);
            if (name != nullptr) {
                namedEvents_[name] = event;
            }
        }
    }
    errors_.SetLastError(ERROR_SUCCESS);
    return handles_.Insert(event);
}

HANDLE FakeKernel::OpenEventW(DWORD, BOOL, const wchar_t* name)
{
    std::shared_ptr<FakeEvent> event;
    if (name != nullptr) {
        const std::lock_guard lock(mutex_);
        const auto found = namedEvents_.find(name);
        if (found != namedEvents_.end()) {
            event = found->second.lock();
        }
    }
    if (event == nullptr) {
        errors_.SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    return handles_.Insert(event);
}

std::shared_ptr<FakeEvent> FakeKernel::EventOf(HANDLE handle) const
{
    return handles_.Lookup<FakeEvent>(handle);
}

BOOL FakeKernel::SetEvent(HANDLE handle)
{
    const auto event = EventOf(handle);
    if (event == nullptr) {
        errors_.SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    {
        const std::lock_guard lock(mutex_);
        event->signalled = true;
    }
    changed_.notify_all();
    return TRUE;
}

BOOL FakeKernel::ResetEvent(HANDLE handle)
{
    const auto event = EventOf(handle);
    if (event == nullptr) {
        errors_.SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const std::lock_guard lock(mutex_);
    event->signalled = false;
    return TRUE;
}

bool FakeKernel::TryCompleteWait(const std::vector<std::shared_ptr<FakeEvent>>& events,
                                 bool wakeOnMessage, DWORD& result)
{
    for (std::size_t index = 0; index < events.size(); ++index) {
        if (events[index]->signalled) {
            if (!events[index]->manualReset) {
                events[index]->signalled = false;
            }
            result = WAIT_OBJECT_0 + static_cast<DWORD>(index);
            return true;
        }
    }
    if (wakeOnMessage && !queues_[std::this_thread::get_id()].empty()) {
        result = static_cast<DWORD>(events.size());
        return true;
    }
    return false;
}

DWORD FakeKernel::Wait(DWORD count, const HANDLE* handles, DWORD timeoutMs, bool wakeOnMessage)
{
    std::vector<std::shared_ptr<FakeEvent>> events;
    for (DWORD index = 0; index < count; ++index) {
        auto event = EventOf(handles[index]);
        if (event == nullptr) {
            errors_.SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        events.push_back(std::move(event));
    }

    DWORD result = WAIT_TIMEOUT;
    {
        const std::lock_guard lock(mutex_);
        waits_.push_back({count, timeoutMs});
        if (TryCompleteWait(events, wakeOnMessage, result)) {
            return result;
        }
    }
    std::function<void(const FakeWait&)> hook;
    {
        const std::lock_guard lock(mutex_);
        hook = waitHook_;
    }
    if (hook) {
        hook({count, timeoutMs});
    }

    std::unique_lock lock(mutex_);
    if (timeoutMs != INFINITE) {
        if (TryCompleteWait(events, wakeOnMessage, result)) {
            return result;
        }
        clockMs_ += timeoutMs;
        return WAIT_TIMEOUT;
    }
    changed_.wait(lock, [&] { return TryCompleteWait(events, wakeOnMessage, result); });
    return result;
}

DWORD FakeKernel::WaitForSingleObject(HANDLE handle, DWORD timeoutMs)
{
    return Wait(1, &handle, timeoutMs, false);
}

DWORD FakeKernel::MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL,
                                            DWORD timeoutMs, DWORD)
{
    return Wait(count, handles, timeoutMs, true);
}

BOOL FakeKernel::PeekMessageW(MSG* message, HWND, UINT, UINT, UINT removeFlags)
{
    const std::lock_guard lock(mutex_);
    auto& queue = queues_[std::this_thread::get_id()];
    if (queue.empty()) {
        return FALSE;
    }
    *message = queue.front();
    if ((removeFlags & PM_REMOVE) != 0) {
        queue.pop_front();
    }
    return TRUE;
}

BOOL FakeKernel::PostThreadMessageW(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam)
{
    std::thread::id thread;
    {
        const std::lock_guard lock(mutex_);
        const auto found = threadIds_.find(threadId);
        if (found == threadIds_.end()) {
            errors_.SetLastError(ERROR_INVALID_THREAD_ID);
            return FALSE;
        }
        thread = found->second;
    }
    MSG posted{};
    posted.message = message;
    posted.wParam = wParam;
    posted.lParam = lParam;
    PostToThread(thread, posted);
    return TRUE;
}

DWORD FakeKernel::ThreadIdOf(std::thread::id thread)
{
    const std::lock_guard lock(mutex_);
    for (const auto& [id, known] : threadIds_) {
        if (known == thread) {
            return id;
        }
    }
    const auto id = static_cast<DWORD>(threadIds_.size() + 1) * kHandleStep;
    threadIds_.emplace(id, thread);
    return id;
}

BOOL FakeKernel::TranslateMessage(const MSG*) { return FALSE; }

LRESULT FakeKernel::DispatchMessageW(const MSG* message)
{
    std::function<void(const MSG&)> hook;
    {
        const std::lock_guard lock(mutex_);
        dispatched_.push_back(*message);
        hook = dispatchHook_;
    }
    if (hook) {
        hook(*message);
    }
    return 0;
}

void FakeKernel::Sleep(DWORD milliseconds)
{
    const std::lock_guard lock(mutex_);
    sleeps_.push_back(milliseconds);
    clockMs_ += milliseconds;
}

DWORD FakeKernel::GetTickCount()
{
    const std::lock_guard lock(mutex_);
    return static_cast<DWORD>(clockMs_);  // wraps like the real 32-bit tick count
}

BOOL FakeKernel::GetVersionExW(OSVERSIONINFOW* version)
{
    constexpr DWORD kMajor = 10;
    version->dwMajorVersion = kMajor;
    version->dwMinorVersion = 0;
    version->dwPlatformId = VER_PLATFORM_WIN32_NT;
    return TRUE;
}

DWORD FakeKernel::GetModuleFileNameW(HMODULE, wchar_t* path, DWORD capacity)
{
    if (capacity == 0) {
        errors_.SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::wstring name;
    {
        const std::lock_guard lock(mutex_);
        name = moduleFileName_;
    }
    // As on Windows: a path that does not fit is cut, still terminated, and the full capacity is
    // returned with ERROR_INSUFFICIENT_BUFFER.
    const bool fits = name.size() < capacity;
    const std::size_t copied = fits ? name.size() : capacity - 1;
    std::copy_n(name.begin(), copied, path);
    path[copied] = L'\0';
    errors_.SetLastError(fits ? ERROR_SUCCESS : ERROR_INSUFFICIENT_BUFFER);
    return fits ? static_cast<DWORD>(copied) : capacity;
}

void FakeKernel::SetModuleFileName(const std::wstring& path)
{
    const std::lock_guard lock(mutex_);
    moduleFileName_ = path;
}

void FakeKernel::PostToThread(std::thread::id thread, const MSG& message)
{
    {
        const std::lock_guard lock(mutex_);
        queues_[thread].push_back(message);
    }
    changed_.notify_all();
}

void FakeKernel::PostToCurrentThread(UINT message, WPARAM wParam, LPARAM lParam)
{
    MSG posted{};
    posted.message = message;
    posted.wParam = wParam;
    posted.lParam = lParam;
    PostToThread(std::this_thread::get_id(), posted);
}

bool FakeKernel::IsSignalled(HANDLE handle) const
{
    const auto event = EventOf(handle);
    const std::lock_guard lock(mutex_);
    return event != nullptr && event->signalled;
}

void FakeKernel::AdvanceClock(DWORD milliseconds)
{
    const std::lock_guard lock(mutex_);
    clockMs_ += milliseconds;
}

void FakeKernel::SetWaitHook(std::function<void(const FakeWait&)> hook)
{
    const std::lock_guard lock(mutex_);
    waitHook_ = std::move(hook);
}

void FakeKernel::SetDispatchHook(std::function<void(const MSG&)> hook)
{
    const std::lock_guard lock(mutex_);
    dispatchHook_ = std::move(hook);
}

std::vector<FakeWait> FakeKernel::Waits() const
{
    const std::lock_guard lock(mutex_);
    return waits_;
}

std::vector<DWORD> FakeKernel::Sleeps() const
{
    const std::lock_guard lock(mutex_);
    return sleeps_;
}

std::vector<MSG> FakeKernel::Dispatched() const
{
    const std::lock_guard lock(mutex_);
    return dispatched_;
}

}  // namespace os::fake

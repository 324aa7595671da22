// In-memory kernel objects for tests: a handle table, the last error, events, waits on a
// virtual clock, and per-thread message queues.
#pragma once

#include "platform/Platform.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace os::fake {

class FakeObject {
public:
    virtual ~FakeObject() = default;
};

// Hands out distinct handle values for fake objects. Several handles may name one object.
class FakeHandleTable {
public:
    HANDLE Insert(std::shared_ptr<FakeObject> object);
    // False for a value that is not an open handle (a double close, a made-up value).
    bool Close(HANDLE handle);

    template <typename T>
    std::shared_ptr<T> Lookup(HANDLE handle) const
    {
        return std::dynamic_pointer_cast<T>(LookupObject(handle));
    }

    std::size_t OpenCount() const;

private:
    std::shared_ptr<FakeObject> LookupObject(HANDLE handle) const;

    mutable std::mutex mutex_;
    std::map<std::uintptr_t, std::shared_ptr<FakeObject>> handles_;
    std::uintptr_t next_ = 0x1000;
};

class FakeErrors final : public IErrors {
public:
    DWORD GetLastError() override;
    void SetLastError(DWORD error) override;
};

class FakeEvent final : public FakeObject {
public:
    FakeEvent(bool manualReset, bool signalled) : manualReset(manualReset), signalled(signalled) {}
    bool manualReset;
    bool signalled;
};

struct FakeWait {
    DWORD handleCount;
    DWORD timeoutMs;
};

// One answer of the fake GlobalMemoryStatusEx: the page-file totals, and the call's result.
struct FakeMemoryStatus {
    DWORDLONG totalPageFile;
    DWORDLONG availPageFile;
    BOOL result = TRUE;
};

// Waits never block on a finite time-out: when nothing is signalled the virtual clock moves on by
// the time-out and the wait times out at once. An infinite wait blocks for real until another
// thread signals one of its events or posts a message to the waiting thread.
class FakeKernel final : public IKernel {
public:
    FakeKernel(FakeHandleTable& handles, IErrors& errors) : handles_(handles), errors_(errors) {}

    BOOL CloseHandle(HANDLE handle) override;
    HANDLE CreateEventW(BOOL manualReset, BOOL initialState, const wchar_t* name) override;
    HANDLE OpenEventW(DWORD access, BOOL inherit, const wchar_t* name) override;
    BOOL SetEvent(HANDLE event) override;
    BOOL ResetEvent(HANDLE event) override;
    DWORD WaitForSingleObject(HANDLE handle, DWORD timeoutMs) override;
    DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                                    DWORD timeoutMs, DWORD wakeMask) override;
    BOOL PeekMessageW(MSG* message, HWND window, UINT filterMin, UINT filterMax,
                      UINT removeFlags) override;
    // Thread ids are those that `ThreadIdOf` gave out.
    BOOL PostThreadMessageW(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) override;
    BOOL TranslateMessage(const MSG* message) override;
    LRESULT DispatchMessageW(const MSG* message) override;
    void Sleep(DWORD milliseconds) override;
    DWORD GetTickCount() override;
    BOOL GetVersionExW(OSVERSIONINFOW* version) override;  // Windows NT 10.0
    // Any module is the executable, at the path that SetModuleFileName gave.
    DWORD GetModuleFileNameW(HMODULE module, wchar_t* path, DWORD capacity) override;
    // The modules that the test left in place (see RemoveModule), found without regard to case.
    HMODULE LoadLibraryW(const wchar_t* name) override;
    FARPROC GetProcAddress(HMODULE module, const char* name) override;
    HMODULE GetModuleHandleW(const wchar_t* name) override;

    // Test controls.
    void SetModuleFileName(const std::wstring& path);
    void PostToThread(std::thread::id thread, const MSG& message);
    void PostToCurrentThread(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    // A numeric id for `thread`, as GetCurrentThreadId would give it.
    DWORD ThreadIdOf(std::thread::id thread);
    bool IsSignalled(HANDLE event) const;
    void AdvanceClock(DWORD milliseconds);
    // Called at the start of every wait that would block or time out, before the virtual clock
    // moves; a test signals or posts from here to stage what "happens during" the wait.
    void SetWaitHook(std::function<void(const FakeWait&)> hook);
    // Called for every dispatched message.
    void SetDispatchHook(std::function<void(const MSG&)> hook);

    // Modules and exports. At the start "kernel32.dll" is there, and its "GlobalMemoryStatusEx"
    // answers from ScriptMemoryStatus (through whichever FakeKernel is current).
    void RemoveModule(const std::wstring& name);
    void RemoveExport(const std::wstring& module, const std::string& name);
    // Adds `address` as the export `name` of `module`, which is made if it is not there.
    void AddExport(const std::wstring& module, const std::string& name, FARPROC address);
    int LoadLibraryCount(const std::wstring& name) const;
    // What GlobalMemoryStatusEx reports, one entry per call; the last entry repeats. Until a
    // script is given: 4 GiB of page file, half of it available.
    void ScriptMemoryStatus(std::vector<FakeMemoryStatus> statuses);
    int MemoryStatusCalls() const;
    // The fake export's work. Like the real call, it refuses a dwLength that is not the
    // structure's size.
    BOOL AnswerMemoryStatus(MEMORYSTATUSEX* status);

    std::vector<FakeWait> Waits() const;
    std::vector<DWORD> Sleeps() const;
    std::vector<MSG> Dispatched() const;

private:
    std::shared_ptr<FakeEvent> EventOf(HANDLE handle) const;
    DWORD Wait(DWORD count, const HANDLE* handles, DWORD timeoutMs, bool wakeOnMessage);
    // With mutex_ held: index of the first signalled event (consuming an auto-reset one), `count`
    // for a waiting message when asked, or nothing yet.
    bool TryCompleteWait(const std::vector<std::shared_ptr<FakeEvent>>& events, bool wakeOnMessage,
                         DWORD& result);

    FakeHandleTable& handles_;
    IErrors& errors_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::wstring, std::weak_ptr<FakeEvent>> namedEvents_;
    std::map<std::thread::id, std::deque<MSG>> queues_;
    std::map<DWORD, std::thread::id> threadIds_;
    std::uint64_t clockMs_ = 0;
    std::vector<FakeWait> waits_;
    std::vector<DWORD> sleeps_;
    std::vector<MSG> dispatched_;
    std::function<void(const FakeWait&)> waitHook_;
    std::function<void(const MSG&)> dispatchHook_;
    std::wstring moduleFileName_ = L"C:\\Program Files\\Velmora\\vlmmrxsvc.exe";

    struct FakeModule {
        HMODULE handle;
        std::map<std::string, FARPROC> exports;
    };
    static std::map<std::wstring, FakeModule> DefaultModules();
    std::map<std::wstring, FakeModule> modules_ = DefaultModules();  // by upper-case name
    std::map<std::wstring, int> loadCounts_;
    std::deque<FakeMemoryStatus> memoryStatus_;
    int memoryStatusCalls_ = 0;
};

}  // namespace os::fake

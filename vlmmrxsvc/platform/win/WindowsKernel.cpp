#include "platform/win/WindowsPlatform.h"

namespace os {
namespace {

class WindowsErrorsImpl final : public IErrors {
public:
    DWORD GetLastError() override { return ::GetLastError(); }
    void SetLastError(DWORD error) override { ::SetLastError(error); }
};

class WindowsKernelImpl final : public IKernel {
public:
    BOOL CloseHandle(HANDLE handle) override { return ::CloseHandle(handle); }

    HANDLE CreateEventW(BOOL manualReset, BOOL initialState, const wchar_t* name) override
    {
        return ::CreateEventW(nullptr, manualReset, initialState, name);
    }

    HANDLE OpenEventW(DWORD access, BOOL inherit, const wchar_t* name) override
    {
        return ::OpenEventW(access, inherit, name);
    }

    BOOL SetEvent(HANDLE event) override { return ::SetEvent(event); }
    BOOL ResetEvent(HANDLE event) override { return ::ResetEvent(event); }

    DWORD WaitForSingleObject(HANDLE handle, DWORD timeoutMs) override
    {
        return ::WaitForSingleObject(handle, timeoutMs);
    }

    DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                                    DWORD timeoutMs, DWORD wakeMask) override
    {
        return ::MsgWaitForMultipleObjects(count, handles, waitAll, timeoutMs, wakeMask);
    }

    BOOL PeekMessageW(MSG* message, HWND window, UINT filterMin, UINT filterMax,
                      UINT removeFlags) override
    {
        return ::PeekMessageW(message, window, filterMin, filterMax, removeFlags);
    }

    BOOL PostThreadMessageW(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) override
    {
        return ::PostThreadMessageW(threadId, message, wParam, lParam);
    }

    BOOL TranslateMessage(const MSG* message) override { return ::TranslateMessage(message); }
    LRESULT DispatchMessageW(const MSG* message) override { return ::DispatchMessageW(message); }
    void Sleep(DWORD milliseconds) override { ::Sleep(milliseconds); }
    DWORD GetTickCount() override { return ::GetTickCount(); }

    BOOL GetVersionExW(OSVERSIONINFOW* version) override
    {
#ifdef _MSC_VER
#pragma warning(suppress : 4996)  // deprecated, but it is the call whose answer we want
#endif
        return ::GetVersionExW(version);
    }

    DWORD GetModuleFileNameW(HMODULE module, wchar_t* path, DWORD capacity) override
    {
        return ::GetModuleFileNameW(module, path, capacity);
    }

    HMODULE LoadLibraryW(const wchar_t* name) override { return ::LoadLibraryW(name); }

    FARPROC GetProcAddress(HMODULE module, const char* name) override
    {
        return ::GetProcAddress(module, name);
    }

    HMODULE GetModuleHandleW(const wchar_t* name) override { return ::GetModuleHandleW(name); }
};

}  // namespace

IErrors& WindowsErrors() { return LeakyInstance<WindowsErrorsImpl>(); }
IKernel& WindowsKernel() { return LeakyInstance<WindowsKernelImpl>(); }

}  // namespace os

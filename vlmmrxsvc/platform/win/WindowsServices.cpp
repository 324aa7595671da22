// Event log, string table, token privileges, service handles and file views.
#include "platform/win/WindowsPlatform.h"

namespace os {
namespace {

class WindowsEventLogImpl final : public IEventLog {
public:
    HANDLE RegisterEventSourceW(const wchar_t* server, const wchar_t* source) override
    {
        return ::RegisterEventSourceW(server, source);
    }

    BOOL DeregisterEventSource(HANDLE source) override { return ::DeregisterEventSource(source); }

    BOOL ReportEventW(HANDLE source, WORD type, WORD category, DWORD eventId, WORD stringCount,
                      const wchar_t** strings) override
    {
        return ::ReportEventW(source, type, category, eventId, nullptr, stringCount, 0, strings,
                              nullptr);
    }
};

class WindowsResourcesImpl final : public IResources {
public:
    int LoadStringW(UINT id, wchar_t* buffer, int capacity) override
    {
        return ::LoadStringW(::GetModuleHandleW(nullptr), id, buffer, capacity);
    }
};

class WindowsSecurityImpl final : public ISecurity {
public:
    BOOL OpenCurrentProcessToken(DWORD access, HANDLE* token) override
    {
        return ::OpenProcessToken(::GetCurrentProcess(), access, token);
    }

    BOOL LookupPrivilegeValueW(const wchar_t* system, const wchar_t* name, LUID* luid) override
    {
        return ::LookupPrivilegeValueW(system, name, luid);
    }

    BOOL AdjustTokenPrivileges(HANDLE token, BOOL disableAll, const TOKEN_PRIVILEGES* privileges,
                               DWORD size) override
    {
        return ::AdjustTokenPrivileges(token, disableAll,
                                       const_cast<TOKEN_PRIVILEGES*>(privileges), size, nullptr,
                                       nullptr);
    }

    BOOL OpenProcessToken(HANDLE process, DWORD access, HANDLE* token) override
    {
        return ::OpenProcessToken(process, access, token);
    }

    BOOL RevertToSelf() override { return ::RevertToSelf(); }

    BOOL GetUserNameW(wchar_t* buffer, DWORD* chars) override
    {
        return ::GetUserNameW(buffer, chars);
    }
};

class WindowsServiceControlImpl final : public IServiceControl {
public:
    BOOL CloseServiceHandle(SC_HANDLE handle) override { return ::CloseServiceHandle(handle); }
};

class WindowsFilesImpl final : public IFiles {
public:
    HANDLE CreateFileW(const wchar_t* path, DWORD access, DWORD shareMode, DWORD disposition,
                       DWORD flagsAndAttributes) override
    {
        return ::CreateFileW(path, access, shareMode, nullptr, disposition, flagsAndAttributes,
                             nullptr);
    }

    DWORD GetFileType(HANDLE file) override { return ::GetFileType(file); }

    BOOL GetFileSizeEx(HANDLE file, LONGLONG* size) override
    {
        LARGE_INTEGER value{};
        const BOOL ok = ::GetFileSizeEx(file, &value);
        if (ok) {
            *size = value.QuadPart;
        }
        return ok;
    }

    DWORD GetFileAttributesW(const wchar_t* path) override { return ::GetFileAttributesW(path); }

    BOOL ReadFile(HANDLE file, void* buffer, DWORD bytes, DWORD* done) override
    {
        return ::ReadFile(file, buffer, bytes, done, nullptr);
    }

    BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytes, DWORD* done) override
    {
        return ::WriteFile(file, buffer, bytes, done, nullptr);
    }

    BOOL SetFilePointerEx(HANDLE file, LONGLONG distance, LONGLONG* position,
                          DWORD moveMethod) override
    {
        LARGE_INTEGER move{};
        move.QuadPart = distance;
        LARGE_INTEGER moved{};
        const BOOL ok = ::SetFilePointerEx(file, move, &moved, moveMethod);
        if (ok && position != nullptr) {
            *position = moved.QuadPart;
        }
        return ok;
    }

    BOOL FlushFileBuffers(HANDLE file) override { return ::FlushFileBuffers(file); }
    BOOL SetEndOfFile(HANDLE file) override { return ::SetEndOfFile(file); }

    BOOL DeviceIoControl(HANDLE device, DWORD code, void* input, DWORD inputBytes, void* output,
                         DWORD outputBytes, DWORD* returned) override
    {
        return ::DeviceIoControl(device, code, input, inputBytes, output, outputBytes, returned,
                                 nullptr);
    }

    HANDLE CreateFileMappingW(HANDLE file, DWORD protect, DWORD maximumSizeHigh,
                              DWORD maximumSizeLow) override
    {
        return ::CreateFileMappingW(file, nullptr, protect, maximumSizeHigh, maximumSizeLow,
                                    nullptr);
    }

    const void* MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh, DWORD offsetLow,
                              SIZE_T bytes) override
    {
        return ::MapViewOfFile(mapping, access, offsetHigh, offsetLow, bytes);
    }

    BOOL UnmapViewOfFile(const void* view) override { return ::UnmapViewOfFile(view); }
};

}  // namespace

IEventLog& WindowsEventLog() { return LeakyInstance<WindowsEventLogImpl>(); }
IResources& WindowsResources() { return LeakyInstance<WindowsResourcesImpl>(); }
ISecurity& WindowsSecurity() { return LeakyInstance<WindowsSecurityImpl>(); }
IServiceControl& WindowsServiceControl() { return LeakyInstance<WindowsServiceControlImpl>(); }
IFiles& WindowsFiles() { return LeakyInstance<WindowsFilesImpl>(); }

}  // namespace os

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

using ChangeServiceConfig2WFunction = BOOL(WINAPI*)(SC_HANDLE, DWORD, void*);

ChangeServiceConfig2WFunction LookUpChangeServiceConfig2W()
{
    const HMODULE advapi = ::GetModuleHandleW(L"Advapi32");
    if (advapi == nullptr) {
        return nullptr;
    }
    // Through the generic function type, which converts to any other without a warning.
    using AnyFunction = void (*)();
    return reinterpret_cast<ChangeServiceConfig2WFunction>(
        reinterpret_cast<AnyFunction>(::GetProcAddress(advapi, "ChangeServiceConfig2W")));
}

class WindowsServiceControlImpl final : public IServiceControl {
public:
    BOOL CloseServiceHandle(SC_HANDLE handle) override { return ::CloseServiceHandle(handle); }

    SC_HANDLE OpenSCManagerW(const wchar_t* machine, const wchar_t* database,
                             DWORD access) override
    {
        return ::OpenSCManagerW(machine, database, access);
    }

    SC_HANDLE OpenServiceW(SC_HANDLE manager, const wchar_t* name, DWORD access) override
    {
        return ::OpenServiceW(manager, name, access);
    }

    SC_HANDLE CreateServiceW(SC_HANDLE manager, const wchar_t* name, const wchar_t* displayName,
                             DWORD access, DWORD serviceType, DWORD startType, DWORD errorControl,
                             const wchar_t* binaryPath, const wchar_t* loadOrderGroup, DWORD* tag,
                             const wchar_t* dependencies, const wchar_t* account,
                             const wchar_t* password) override
    {
        return ::CreateServiceW(manager, name, displayName, access, serviceType, startType,
                                errorControl, binaryPath, loadOrderGroup, tag, dependencies,
                                account, password);
    }

    BOOL ControlService(SC_HANDLE service, DWORD control, SERVICE_STATUS* status) override
    {
        return ::ControlService(service, control, status);
    }

    BOOL DeleteService(SC_HANDLE service) override { return ::DeleteService(service); }

    SC_LOCK LockServiceDatabase(SC_HANDLE manager) override
    {
        return ::LockServiceDatabase(manager);
    }

    BOOL UnlockServiceDatabase(SC_LOCK lock) override { return ::UnlockServiceDatabase(lock); }

    BOOL FindChangeServiceConfig2W() override
    {
        return LookUpChangeServiceConfig2W() != nullptr ? TRUE : FALSE;
    }

    BOOL ChangeServiceConfig2W(SC_HANDLE service, DWORD infoLevel, void* info) override
    {
        const ChangeServiceConfig2WFunction change = LookUpChangeServiceConfig2W();
        if (change == nullptr) {
            ::SetLastError(ERROR_PROC_NOT_FOUND);
            return FALSE;
        }
        return change(service, infoLevel, info);
    }
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

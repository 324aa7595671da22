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
};

class WindowsServiceControlImpl final : public IServiceControl {
public:
    BOOL CloseServiceHandle(SC_HANDLE handle) override { return ::CloseServiceHandle(handle); }
};

class WindowsFilesImpl final : public IFiles {
public:
    BOOL UnmapViewOfFile(const void* view) override { return ::UnmapViewOfFile(view); }
};

}  // namespace

IEventLog& WindowsEventLog() { return LeakyInstance<WindowsEventLogImpl>(); }
IResources& WindowsResources() { return LeakyInstance<WindowsResourcesImpl>(); }
ISecurity& WindowsSecurity() { return LeakyInstance<WindowsSecurityImpl>(); }
IServiceControl& WindowsServiceControl() { return LeakyInstance<WindowsServiceControlImpl>(); }
IFiles& WindowsFiles() { return LeakyInstance<WindowsFilesImpl>(); }

}  // namespace os

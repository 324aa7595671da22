// In-memory event log, string table, process token, service handles and file views for tests.
#pragma once

#include "platform/Platform.h"
#include "platform/fake/FakeKernel.h"
#include "platform/fake/FakeProcesses.h"

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace os::fake {

struct LoggedEvent {
    std::wstring source;
    WORD type;
    WORD category;
    DWORD eventId;
    std::vector<std::wstring> strings;
};

class FakeEventLog final : public IEventLog {
public:
    HANDLE RegisterEventSourceW(const wchar_t* server, const wchar_t* source) override;
    BOOL DeregisterEventSource(HANDLE source) override;
    BOOL ReportEventW(HANDLE source, WORD type, WORD category, DWORD eventId, WORD stringCount,
                      const wchar_t** strings) override;

    std::vector<LoggedEvent> Entries() const;
    std::size_t OpenSourceCount() const;

private:
    struct Source final : FakeObject {
        std::wstring name;
    };

    mutable std::mutex mutex_;
    FakeHandleTable sources_;
    std::vector<LoggedEvent> entries_;
};

// The executable's string table, as the resource script builds it.
class FakeResources final : public IResources {
public:
    FakeResources();
    int LoadStringW(UINT id, wchar_t* buffer, int capacity) override;

private:
    std::map<UINT, std::wstring> strings_;
};

// The service's own token: which privileges it holds and which of them are enabled. And the
// identity of each thread: the user whose token it acts with, if any.
class FakeSecurity final : public ISecurity {
public:
    FakeSecurity(FakeHandleTable& handles, IErrors& errors);

    BOOL OpenCurrentProcessToken(DWORD access, HANDLE* token) override;
    BOOL LookupPrivilegeValueW(const wchar_t* system, const wchar_t* name, LUID* luid) override;
    BOOL AdjustTokenPrivileges(HANDLE token, BOOL disableAll, const TOKEN_PRIVILEGES* privileges,
                               DWORD size) override;
    // Processes are those of FakeProcesses; the token carries the process's user.
    BOOL OpenProcessToken(HANDLE process, DWORD access, HANDLE* token) override;
    BOOL RevertToSelf() override;
    BOOL GetUserNameW(wchar_t* buffer, DWORD* chars) override;

    // Puts this fake's entry points, ImpersonateSelf and ImpersonateLoggedOnUser, into the fake
    // kernel's "Advapi32". They answer through whichever FakeSecurity is current.
    static void Export(FakeKernel& kernel);

    // What the entry points do.
    BOOL ImpersonateSelf(SECURITY_IMPERSONATION_LEVEL level);
    BOOL ImpersonateLoggedOnUser(HANDLE token);

    void Hold(const std::wstring& privilege);
    bool IsEnabled(const std::wstring& privilege) const;
    void FailTokenOpen(DWORD error);

    // Thread identity. The calling thread has a token from a successful ImpersonateSelf or
    // ImpersonateLoggedOnUser until RevertToSelf.
    bool HasThreadToken() const;
    // The user the calling thread acts as: its token's, or the service's own.
    std::wstring ThreadUser() const;
    void SetServiceUser(const std::wstring& user);  // kFakeServiceUser until set
    // Successful ImpersonateLoggedOnUser calls, on any thread.
    int ImpersonationCount() const;
    // Failures until set back to ERROR_SUCCESS.
    void FailImpersonateSelf(DWORD error);
    void FailProcessTokenOpen(DWORD error);
    void FailImpersonateLoggedOnUser(DWORD error);
    // The entry points fail with ERROR_PROC_NOT_FOUND, as if they had not been found (callers
    // that looked them up earlier still hold them; see FakeKernel::RemoveExport for the lookup).
    void FailImpersonationEntryPoints();

private:
    struct Token final : FakeObject {};
    struct UserToken final : FakeObject {
        explicit UserToken(std::wstring user) : user(std::move(user)) {}
        const std::wstring user;
    };
    BOOL Fail(DWORD error);
    std::map<std::thread::id, std::wstring> threadTokens_;  // the user of each thread's token
    std::wstring serviceUser_ = kFakeServiceUser;
    int impersonations_ = 0;
    DWORD impersonateSelfError_ = ERROR_SUCCESS;
    DWORD processTokenError_ = ERROR_SUCCESS;
    DWORD impersonateUserError_ = ERROR_SUCCESS;
    bool entryPointsHidden_ = false;

    FakeHandleTable& handles_;
    IErrors& errors_;
    mutable std::mutex mutex_;
    std::vector<std::wstring> known_;  // a privilege's LUID is its index here
    std::set<std::wstring> held_;
    std::set<std::wstring> enabled_;
    DWORD tokenOpenError_ = ERROR_SUCCESS;
};

class FakeServiceControl final : public IServiceControl {
public:
    BOOL CloseServiceHandle(SC_HANDLE handle) override;
    SC_HANDLE Open();  // a handle for owner tests
    std::size_t OpenCount() const { return handles_.OpenCount(); }

private:
    struct Handle final : FakeObject {};
    FakeHandleTable handles_;
};

}  // namespace os::fake

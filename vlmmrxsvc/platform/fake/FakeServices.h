// In-memory event log, string table, process token, service handles and file views for tests.
#pragma once

#include "platform/Platform.h"
#include "platform/fake/FakeKernel.h"
#include "platform/fake/FakeProcesses.h"

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
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

// The calls of the fake service control manager that a test can make fail.
enum class ServiceCall {
    OpenSCManager,
    OpenService,
    CreateService,
    ControlService,
    DeleteService,
    LockServiceDatabase,
    ChangeServiceConfig2,
};

struct FakeFailureActions {
    DWORD resetPeriod = 0;
    std::optional<std::wstring> rebootMessage;  // nothing when the call passed null
    std::optional<std::wstring> command;
    std::vector<SC_ACTION> actions;
};

// One service of the fake database: what CreateServiceW and ChangeServiceConfig2W recorded, and
// its state.
struct FakeService {
    std::wstring name;
    std::wstring displayName;
    DWORD serviceType = SERVICE_WIN32_OWN_PROCESS;
    DWORD startType = SERVICE_DEMAND_START;
    DWORD errorControl = SERVICE_ERROR_NORMAL;
    std::wstring binaryPath;
    std::optional<std::wstring> loadOrderGroup;
    std::vector<std::wstring> dependencies;
    std::optional<std::wstring> account;  // nothing: LocalSystem
    std::optional<std::wstring> description;
    std::optional<FakeFailureActions> failureActions;
    DWORD state = SERVICE_STOPPED;
    std::vector<DWORD> controls;  // received, in order
    bool markedForDeletion = false;
};

// A service control manager in memory. Access rights are checked as granted (generic rights are
// not mapped: ask for the specific ones). A deleted service is only marked, and goes once it is
// stopped and its last handle is closed; a service that gets the stop control stays
// STOP_PENDING until the test sets its state.
class FakeServiceControl final : public IServiceControl {
public:
    explicit FakeServiceControl(IErrors& errors);

    BOOL CloseServiceHandle(SC_HANDLE handle) override;
    SC_HANDLE OpenSCManagerW(const wchar_t* machine, const wchar_t* database,
                             DWORD access) override;
    SC_HANDLE OpenServiceW(SC_HANDLE manager, const wchar_t* name, DWORD access) override;
    SC_HANDLE CreateServiceW(SC_HANDLE manager, const wchar_t* name, const wchar_t* displayName,
                             DWORD access, DWORD serviceType, DWORD startType, DWORD errorControl,
                             const wchar_t* binaryPath, const wchar_t* loadOrderGroup, DWORD* tag,
                             const wchar_t* dependencies, const wchar_t* account,
                             const wchar_t* password) override;
    BOOL ControlService(SC_HANDLE service, DWORD control, SERVICE_STATUS* status) override;
    BOOL DeleteService(SC_HANDLE service) override;
    SC_LOCK LockServiceDatabase(SC_HANDLE manager) override;
    BOOL UnlockServiceDatabase(SC_LOCK lock) override;
    BOOL FindChangeServiceConfig2W() override;
    BOOL ChangeServiceConfig2W(SC_HANDLE service, DWORD infoLevel, void* info) override;

    // Test controls.
    void AddService(const FakeService& service);  // as if installed earlier
    // The service of that name (without regard to case), while it is in the database.
    std::optional<FakeService> Service(const std::wstring& name) const;
    void SetState(const std::wstring& name, DWORD state);
    // One call fails, after `skip` more calls of that kind have gone through.
    void FailNext(ServiceCall call, DWORD error, unsigned skip = 0);
    void FailAlways(ServiceCall call, DWORD error);  // every call; ERROR_SUCCESS ends it
    void RemoveChangeServiceConfig2W();              // as on a system that lacks it
    bool IsDatabaseLocked() const;
    std::vector<std::wstring> Calls() const;  // the names of the calls made, in order
    SC_HANDLE Open();                         // a handle for owner tests
    std::size_t OpenCount() const { return handles_.OpenCount(); }  // handles and locks

private:
    struct Handle final : FakeObject {};
    struct Record;
    struct ManagerHandle;
    struct ServiceHandle;
    struct Lock;

    // With mutex_ held: logs the call and tells whether a staged failure applies to it.
    bool FailsLocked(ServiceCall call, const wchar_t* name);
    std::shared_ptr<ManagerHandle> ManagerOf(SC_HANDLE handle) const;
    std::shared_ptr<ServiceHandle> ServiceOf(SC_HANDLE handle) const;
    // ERROR_SUCCESS when `manager` is a manager handle granted `access`, else the call's error.
    DWORD ManagerAccessError(SC_HANDLE manager, DWORD access) const;
    // With mutex_ held: drops a service marked for deletion once nothing keeps it.
    void RemoveIfGoneLocked(const std::shared_ptr<Record>& record);
    void RecordFailureActions(FakeService& service, const SERVICE_FAILURE_ACTIONSW& actions);
    // Set the last error and give the call's failure result.
    std::nullptr_t Fail(DWORD error);
    BOOL Refuse(DWORD error);

    IErrors& errors_;
    FakeHandleTable handles_;
    mutable std::mutex mutex_;
    std::map<std::wstring, std::shared_ptr<Record>> services_;  // by upper-case name
    struct StagedFailure {
        unsigned skip;
        DWORD error;
    };
    std::map<ServiceCall, StagedFailure> failNext_;
    std::map<ServiceCall, DWORD> failAlways_;
    std::vector<std::wstring> calls_;
    bool changeConfig2Available_ = true;
    bool locked_ = false;
};

}  // namespace os::fake

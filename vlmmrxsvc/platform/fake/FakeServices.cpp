#include "platform/fake/FakeServices.h"

#include "resources/StringTable.h"

#include <algorithm>
#include <cwchar>
#include <cwctype>

namespace os::fake {

HANDLE FakeEventLog::RegisterEventSourceW(const wchar_t*, const wchar_t* source)
{
    auto opened = std::make_shared<Source>();
    opened->name = source == nullptr ? L"" : source;
    return sources_.Insert(std::move(opened));
}

BOOL FakeEventLog::DeregisterEventSource(HANDLE source) { return sources_.Close(source); }

BOOL FakeEventLog::ReportEventW(HANDLE source, WORD type, WORD category, DWORD eventId,
                                WORD stringCount, const wchar_t** strings)
{
    const auto opened = sources_.Lookup<Source>(source);
    if (opened == nullptr) {
        return FALSE;
    }
    LoggedEvent entry{opened->name, type, category, eventId, {}};
    for (WORD index = 0; index < stringCount; ++index) {
        entry.strings.emplace_back(strings[index] == nullptr ? L"" : strings[index]);
    }
    const std::lock_guard lock(mutex_);
    entries_.push_back(std::move(entry));
    return TRUE;
}

std::vector<LoggedEvent> FakeEventLog::Entries() const
{
    const std::lock_guard lock(mutex_);
    return entries_;
}

std::size_t FakeEventLog::OpenSourceCount() const { return sources_.OpenCount(); }

FakeResources::FakeResources()
    : strings_{
          {IDS_PROCESS_EXCLUSION_KEY, L"" STR_PROCESS_EXCLUSION_KEY},
          {IDS_SERVICE_KEY, L"" STR_SERVICE_KEY},
          {IDS_UNKNOWN_NAME, L"" STR_UNKNOWN_NAME},
          {IDS_SWITCH_REGSERVER, L"" STR_SWITCH_REGSERVER},
          {IDS_SWITCH_UNREGSERVER, L"" STR_SWITCH_UNREGSERVER},
          {IDS_SWITCH_CHARACTERS, L"" STR_SWITCH_CHARACTERS},
          {IDS_SWITCH_SERVICE, L"" STR_SWITCH_SERVICE},
          {IDS_COMPONENT_EXCLUSION_KEY, L"" STR_COMPONENT_EXCLUSION_KEY},
          {IDS_DECIMAL_FORMAT, L"" STR_DECIMAL_FORMAT},
          {IDS_IMPERSONATE_SELF_FAILED, L"" STR_IMPERSONATE_SELF_FAILED},
          {IDS_OPEN_TOKEN_FAILED, L"" STR_OPEN_TOKEN_FAILED},
          {IDS_IDLE_REPORT, L"" STR_IDLE_REPORT},
          {IDS_SERVICE_DESCRIPTION, L"" STR_SERVICE_DESCRIPTION},
          {IDS_SERVICE_NAME, L"" STR_SERVICE_NAME},
      }
{
}

int FakeResources::LoadStringW(UINT id, wchar_t* buffer, int capacity)
{
    if (buffer == nullptr || capacity <= 0) {
        return 0;
    }
    const auto found = strings_.find(id);
    const std::wstring text = found == strings_.end() ? std::wstring() : found->second;
    const auto copied = std::min<std::size_t>(text.size(), static_cast<std::size_t>(capacity - 1));
    std::copy_n(text.begin(), copied, buffer);
    buffer[copied] = L'\0';
    return static_cast<int>(copied);
}

FakeSecurity::FakeSecurity(FakeHandleTable& handles, IErrors& errors)
    : handles_(handles), errors_(errors)
{
}

BOOL FakeSecurity::OpenCurrentProcessToken(DWORD, HANDLE* token)
{
    {
        const std::lock_guard lock(mutex_);
        if (tokenOpenError_ != ERROR_SUCCESS) {
            errors_.SetLastError(tokenOpenError_);
            return FALSE;
        }
    }
    *token = handles_.Insert(std::make_shared<Token>());
    return TRUE;
}

BOOL FakeSecurity::LookupPrivilegeValueW(const wchar_t*, const wchar_t* name, LUID* luid)
{
    const std::lock_guard lock(mutex_);
    auto found = std::find(known_.begin(), known_.end(), name);
    if (found == known_.end()) {
        found = known_.insert(known_.end(), name);
    }
    luid->LowPart = static_cast<DWORD>(found - known_.begin()) + 1;  // 0 is never a LUID
    luid->HighPart = 0;
    return TRUE;
}

BOOL FakeSecurity::AdjustTokenPrivileges(HANDLE token, BOOL, const TOKEN_PRIVILEGES* privileges,
                                         DWORD)
{
    if (handles_.Lookup<Token>(token) == nullptr) {
        errors_.SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const std::lock_guard lock(mutex_);
    DWORD result = ERROR_SUCCESS;
    for (DWORD index = 0; index < privileges->PrivilegeCount; ++index) {
        const LUID_AND_ATTRIBUTES& entry = privileges->Privileges[index];
        const DWORD position = entry.Luid.LowPart - 1;
        if (entry.Luid.LowPart == 0 || position >= known_.size() ||
            held_.count(known_[position]) == 0) {
            result = ERROR_NOT_ALL_ASSIGNED;  // the call itself succeeds, as on Windows
            continue;
        }
        if ((entry.Attributes & SE_PRIVILEGE_ENABLED) != 0) {
            enabled_.insert(known_[position]);
        } else {
            enabled_.erase(known_[position]);
        }
    }
    errors_.SetLastError(result);
    return TRUE;
}

void FakeSecurity::Hold(const std::wstring& privilege)
{
    const std::lock_guard lock(mutex_);
    held_.insert(privilege);
}

bool FakeSecurity::IsEnabled(const std::wstring& privilege) const
{
    const std::lock_guard lock(mutex_);
    return enabled_.count(privilege) != 0;
}

void FakeSecurity::FailTokenOpen(DWORD error)
{
    const std::lock_guard lock(mutex_);
    tokenOpenError_ = error;
}

namespace {

std::wstring UpperName(const wchar_t* name)
{
    std::wstring text = name == nullptr ? std::wstring() : std::wstring(name);
    std::transform(text.begin(), text.end(), text.begin(),
                   [](wchar_t c) { return static_cast<wchar_t>(std::towupper(c)); });
    return text;
}

std::optional<std::wstring> OptionalText(const wchar_t* text)
{
    return text == nullptr ? std::nullopt : std::optional<std::wstring>(text);
}

// A list of NUL-terminated names that ends with an empty one.
std::vector<std::wstring> NameList(const wchar_t* names)
{
    std::vector<std::wstring> list;
    for (const wchar_t* name = names; name != nullptr && *name != L'\0';
         name += std::wcslen(name) + 1) {
        list.emplace_back(name);
    }
    return list;
}

const wchar_t* CallName(ServiceCall call)
{
    switch (call) {
    case ServiceCall::OpenSCManager:
        return L"OpenSCManagerW";
    case ServiceCall::OpenService:
        return L"OpenServiceW";
    case ServiceCall::CreateService:
        return L"CreateServiceW";
    case ServiceCall::ControlService:
        return L"ControlService";
    case ServiceCall::DeleteService:
        return L"DeleteService";
    case ServiceCall::LockServiceDatabase:
        return L"LockServiceDatabase";
    case ServiceCall::ChangeServiceConfig2:
        return L"ChangeServiceConfig2W";
    }
    return L"?";
}

FakeSecurity* CurrentFakeSecurity() { return dynamic_cast<FakeSecurity*>(&os::Security()); }

BOOL WINAPI ImpersonateSelfThroughCurrentFake(SECURITY_IMPERSONATION_LEVEL level)
{
    FakeSecurity* security = CurrentFakeSecurity();
    return security == nullptr ? FALSE : security->ImpersonateSelf(level);
}

BOOL WINAPI ImpersonateLoggedOnUserThroughCurrentFake(HANDLE token)
{
    FakeSecurity* security = CurrentFakeSecurity();
    return security == nullptr ? FALSE : security->ImpersonateLoggedOnUser(token);
}

}  // namespace

struct FakeServiceControl::Record {
    FakeService service;
    std::size_t openHandles = 0;
};

struct FakeServiceControl::ManagerHandle final : FakeObject {
    DWORD access = 0;
};

struct FakeServiceControl::ServiceHandle final : FakeObject {
    std::shared_ptr<Record> record;
    DWORD access = 0;
};

struct FakeServiceControl::Lock final : FakeObject {};

FakeServiceControl::FakeServiceControl(IErrors& errors) : errors_(errors) {}

std::nullptr_t FakeServiceControl::Fail(DWORD error)
{
    errors_.SetLastError(error);
    return nullptr;
}

BOOL FakeServiceControl::Refuse(DWORD error)
{
    errors_.SetLastError(error);
    return FALSE;
}

BOOL FakeSecurity::Fail(DWORD error)
{
    errors_.SetLastError(error);
    return FALSE;
}

bool FakeServiceControl::FailsLocked(ServiceCall call, const wchar_t* name)
{
    calls_.emplace_back(name == nullptr ? CallName(call) : name);
    DWORD error = ERROR_SUCCESS;
    if (const auto once = failNext_.find(call); once != failNext_.end()) {
        if (once->second.skip == 0) {
            error = once->second.error;
            failNext_.erase(once);
        } else {
            --once->second.skip;
        }
    }
    const auto always = failAlways_.find(call);
    if (error == ERROR_SUCCESS && always != failAlways_.end()) {
        error = always->second;
    }
    if (error == ERROR_SUCCESS) {
        return false;
    }
    errors_.SetLastError(error);
    return true;
}

std::shared_ptr<FakeServiceControl::ManagerHandle> FakeServiceControl::ManagerOf(
    SC_HANDLE handle) const
{
    return handles_.Lookup<ManagerHandle>(reinterpret_cast<HANDLE>(handle));
}

DWORD FakeServiceControl::ManagerAccessError(SC_HANDLE manager, DWORD access) const
{
    const auto owner = ManagerOf(manager);
    if (owner == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    return (owner->access & access) == access ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

std::shared_ptr<FakeServiceControl::ServiceHandle> FakeServiceControl::ServiceOf(
    SC_HANDLE handle) const
{
    return handles_.Lookup<ServiceHandle>(reinterpret_cast<HANDLE>(handle));
}

void FakeServiceControl::RemoveIfGoneLocked(const std::shared_ptr<Record>& record)
{
    const FakeService& service = record->service;
    if (service.markedForDeletion && record->openHandles == 0 &&
        service.state == SERVICE_STOPPED) {
        const auto found = services_.find(UpperName(service.name.c_str()));
        if (found != services_.end() && found->second == record) {
            services_.erase(found);
        }
    }
}

void FakeSecurity::Export(FakeKernel& kernel)
{
    kernel.AddExport(L"Advapi32", "ImpersonateSelf",
                     reinterpret_cast<FARPROC>(
                         reinterpret_cast<void (*)()>(&ImpersonateSelfThroughCurrentFake)));
    kernel.AddExport(L"Advapi32", "ImpersonateLoggedOnUser",
                     reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(
                         &ImpersonateLoggedOnUserThroughCurrentFake)));
}

BOOL FakeSecurity::ImpersonateSelf(SECURITY_IMPERSONATION_LEVEL)
{
    const std::lock_guard lock(mutex_);
    if (entryPointsHidden_) {
        return Fail(ERROR_PROC_NOT_FOUND);
    }
    if (impersonateSelfError_ != ERROR_SUCCESS) {
        return Fail(impersonateSelfError_);
    }
    threadTokens_[std::this_thread::get_id()] = serviceUser_;
    return TRUE;
}

BOOL FakeSecurity::OpenProcessToken(HANDLE process, DWORD, HANDLE* token)
{
    const auto opened = handles_.Lookup<FakeProcessHandle>(process);
    if (opened == nullptr) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    {
        const std::lock_guard lock(mutex_);
        if (processTokenError_ != ERROR_SUCCESS) {
            return Fail(processTokenError_);
        }
    }
    *token = handles_.Insert(std::make_shared<UserToken>(opened->process->user));
    return TRUE;
}

BOOL FakeSecurity::ImpersonateLoggedOnUser(HANDLE token)
{
    const auto user = handles_.Lookup<UserToken>(token);
    const std::lock_guard lock(mutex_);
    if (entryPointsHidden_) {
        return Fail(ERROR_PROC_NOT_FOUND);
    }
    if (user == nullptr) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (impersonateUserError_ != ERROR_SUCCESS) {
        return Fail(impersonateUserError_);
    }
    threadTokens_[std::this_thread::get_id()] = user->user;
    ++impersonations_;
    return TRUE;
}

BOOL FakeSecurity::RevertToSelf()
{
    const std::lock_guard lock(mutex_);
    threadTokens_.erase(std::this_thread::get_id());
    return TRUE;
}

BOOL FakeSecurity::GetUserNameW(wchar_t* buffer, DWORD* chars)
{
    const std::wstring user = ThreadUser();
    const auto needed = static_cast<DWORD>(user.size() + 1);
    if (buffer == nullptr || *chars < needed) {
        *chars = needed;
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::wmemcpy(buffer, user.c_str(), needed);
    *chars = needed;
    return TRUE;
}

bool FakeSecurity::HasThreadToken() const
{
    const std::lock_guard lock(mutex_);
    return threadTokens_.count(std::this_thread::get_id()) != 0;
}

std::wstring FakeSecurity::ThreadUser() const
{
    const std::lock_guard lock(mutex_);
    const auto found = threadTokens_.find(std::this_thread::get_id());
    return found == threadTokens_.end() ? serviceUser_ : found->second;
}

void FakeSecurity::SetServiceUser(const std::wstring& user)
{
    const std::lock_guard lock(mutex_);
    serviceUser_ = user;
}

int FakeSecurity::ImpersonationCount() const
{
    const std::lock_guard lock(mutex_);
    return impersonations_;
}

void FakeSecurity::FailImpersonateSelf(DWORD error)
{
    const std::lock_guard lock(mutex_);
    impersonateSelfError_ = error;
}

void FakeSecurity::FailProcessTokenOpen(DWORD error)
{
    const std::lock_guard lock(mutex_);
    processTokenError_ = error;
}

void FakeSecurity::FailImpersonateLoggedOnUser(DWORD error)
{
    const std::lock_guard lock(mutex_);
    impersonateUserError_ = error;
}

void FakeSecurity::FailImpersonationEntryPoints()
{
    const std::lock_guard lock(mutex_);
    entryPointsHidden_ = true;
}

BOOL FakeServiceControl::CloseServiceHandle(SC_HANDLE handle)
{
    const auto service = ServiceOf(handle);
    if (!handles_.Close(reinterpret_cast<HANDLE>(handle))) {
        errors_.SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (service != nullptr) {
        const std::lock_guard lock(mutex_);
        --service->record->openHandles;
        RemoveIfGoneLocked(service->record);
    }
    return TRUE;
}

SC_HANDLE FakeServiceControl::OpenSCManagerW(const wchar_t*, const wchar_t*, DWORD access)
{
    {
        const std::lock_guard lock(mutex_);
        if (FailsLocked(ServiceCall::OpenSCManager, nullptr)) {
            return nullptr;
        }
    }
    auto manager = std::make_shared<ManagerHandle>();
    manager->access = access;
    return reinterpret_cast<SC_HANDLE>(handles_.Insert(std::move(manager)));
}

SC_HANDLE FakeServiceControl::OpenServiceW(SC_HANDLE manager, const wchar_t* name, DWORD access)
{
    auto opened = std::make_shared<ServiceHandle>();
    opened->access = access;
    {
        const std::lock_guard lock(mutex_);
        if (FailsLocked(ServiceCall::OpenService, nullptr)) {
            return nullptr;
        }
        if (ManagerOf(manager) == nullptr) {
            return Fail(ERROR_INVALID_HANDLE);
        }
        // A service marked for deletion can still be opened, as on Windows.
        const auto found = services_.find(UpperName(name));
        if (found == services_.end()) {
            return Fail(ERROR_SERVICE_DOES_NOT_EXIST);
        }
        opened->record = found->second;
        ++opened->record->openHandles;
    }
    return reinterpret_cast<SC_HANDLE>(handles_.Insert(std::move(opened)));
}

SC_HANDLE FakeServiceControl::CreateServiceW(SC_HANDLE manager, const wchar_t* name,
                                             const wchar_t* displayName, DWORD access,
                                             DWORD serviceType, DWORD startType,
                                             DWORD errorControl, const wchar_t* binaryPath,
                                             const wchar_t* loadOrderGroup, DWORD* tag,
                                             const wchar_t* dependencies, const wchar_t* account,
                                             const wchar_t*)
{
    auto created = std::make_shared<ServiceHandle>();
    created->access = access;
    {
        const std::lock_guard lock(mutex_);
        if (FailsLocked(ServiceCall::CreateService, nullptr)) {
            return nullptr;
        }
        if (const DWORD error = ManagerAccessError(manager, SC_MANAGER_CREATE_SERVICE)) {
            return Fail(error);
        }
        if (name == nullptr || *name == L'\0' || binaryPath == nullptr) {
            return Fail(ERROR_INVALID_PARAMETER);
        }
        auto& slot = services_[UpperName(name)];
        if (slot != nullptr) {
            return Fail(slot->service.markedForDeletion ? ERROR_SERVICE_MARKED_FOR_DELETE
                                                        : ERROR_SERVICE_EXISTS);
        }
        slot = std::make_shared<Record>();
        FakeService& service = slot->service;
        service.name = name;
        service.displayName = displayName == nullptr ? name : displayName;
        service.serviceType = serviceType;
        service.startType = startType;
        service.errorControl = errorControl;
        service.binaryPath = binaryPath;
        service.loadOrderGroup = OptionalText(loadOrderGroup);
        service.dependencies = NameList(dependencies);
        service.account = OptionalText(account);
        slot->openHandles = 1;
        created->record = slot;
    }
    if (tag != nullptr) {
        *tag = 0;
    }
    return reinterpret_cast<SC_HANDLE>(handles_.Insert(std::move(created)));
}

BOOL FakeServiceControl::ControlService(SC_HANDLE service, DWORD control, SERVICE_STATUS* status)
{
    const auto opened = ServiceOf(service);
    const std::lock_guard lock(mutex_);
    if (FailsLocked(ServiceCall::ControlService, nullptr)) {
        return FALSE;
    }
    if (opened == nullptr) {
        return Refuse(ERROR_INVALID_HANDLE);
    }
    if (control == SERVICE_CONTROL_STOP && (opened->access & SERVICE_STOP) == 0) {
        return Refuse(ERROR_ACCESS_DENIED);
    }
    FakeService& target = opened->record->service;
    if (target.state == SERVICE_STOPPED) {
        return Refuse(ERROR_SERVICE_NOT_ACTIVE);
    }
    target.controls.push_back(control);
    if (control == SERVICE_CONTROL_STOP) {
        target.state = SERVICE_STOP_PENDING;
    }
    if (status != nullptr) {
        *status = SERVICE_STATUS{};
        status->dwServiceType = target.serviceType;
        status->dwCurrentState = target.state;
    }
    return TRUE;
}

BOOL FakeServiceControl::DeleteService(SC_HANDLE service)
{
    const auto opened = ServiceOf(service);
    const std::lock_guard lock(mutex_);
    if (FailsLocked(ServiceCall::DeleteService, nullptr)) {
        return FALSE;
    }
    if (opened == nullptr) {
        return Refuse(ERROR_INVALID_HANDLE);
    }
    if ((opened->access & DELETE) == 0) {
        return Refuse(ERROR_ACCESS_DENIED);
    }
    if (opened->record->service.markedForDeletion) {
        return Refuse(ERROR_SERVICE_MARKED_FOR_DELETE);
    }
    opened->record->service.markedForDeletion = true;
    return TRUE;
}

SC_LOCK FakeServiceControl::LockServiceDatabase(SC_HANDLE manager)
{
    {
        const std::lock_guard lock(mutex_);
        if (FailsLocked(ServiceCall::LockServiceDatabase, nullptr)) {
            return nullptr;
        }
        if (const DWORD error = ManagerAccessError(manager, SC_MANAGER_LOCK)) {
            return Fail(error);
        }
        if (locked_) {
            return Fail(ERROR_SERVICE_DATABASE_LOCKED);
        }
        locked_ = true;
    }
    return handles_.Insert(std::make_shared<Lock>());
}

BOOL FakeServiceControl::UnlockServiceDatabase(SC_LOCK lock)
{
    const std::lock_guard guard(mutex_);
    calls_.emplace_back(L"UnlockServiceDatabase");
    if (handles_.Lookup<Lock>(lock) == nullptr || !handles_.Close(lock)) {
        errors_.SetLastError(ERROR_INVALID_SERVICE_LOCK);
        return FALSE;
    }
    locked_ = false;
    return TRUE;
}

BOOL FakeServiceControl::FindChangeServiceConfig2W()
{
    const std::lock_guard lock(mutex_);
    return changeConfig2Available_ ? TRUE : FALSE;
}

void FakeServiceControl::RecordFailureActions(FakeService& service,
                                              const SERVICE_FAILURE_ACTIONSW& actions)
{
    FakeFailureActions recorded;
    recorded.resetPeriod = actions.dwResetPeriod;
    recorded.rebootMessage = OptionalText(actions.lpRebootMsg);
    recorded.command = OptionalText(actions.lpCommand);
    if (actions.lpsaActions != nullptr) {
        recorded.actions.assign(actions.lpsaActions, actions.lpsaActions + actions.cActions);
    }
    service.failureActions = std::move(recorded);
}

BOOL FakeServiceControl::ChangeServiceConfig2W(SC_HANDLE service, DWORD infoLevel, void* info)
{
    const auto opened = ServiceOf(service);
    const std::lock_guard lock(mutex_);
    if (!changeConfig2Available_) {
        return Refuse(ERROR_PROC_NOT_FOUND);
    }
    const std::wstring name = std::wstring(L"ChangeServiceConfig2W/") + std::to_wstring(infoLevel);
    if (FailsLocked(ServiceCall::ChangeServiceConfig2, name.c_str())) {
        return FALSE;
    }
    if (opened == nullptr) {
        return Refuse(ERROR_INVALID_HANDLE);
    }
    if ((opened->access & SERVICE_CHANGE_CONFIG) == 0) {
        return Refuse(ERROR_ACCESS_DENIED);
    }
    FakeService& target = opened->record->service;
    if (target.markedForDeletion) {
        return Refuse(ERROR_SERVICE_MARKED_FOR_DELETE);
    }
    if (info == nullptr) {
        return Refuse(ERROR_INVALID_PARAMETER);
    }
    if (infoLevel == SERVICE_CONFIG_DESCRIPTION) {
        const auto* description = static_cast<const SERVICE_DESCRIPTIONW*>(info);
        if (description->lpDescription != nullptr) {  // null leaves the description alone
            target.description = description->lpDescription;
        }
        return TRUE;
    }
    if (infoLevel == SERVICE_CONFIG_FAILURE_ACTIONS) {
        const auto& actions = *static_cast<const SERVICE_FAILURE_ACTIONSW*>(info);
        const auto restarts = [](const SC_ACTION& a) { return a.Type == SC_ACTION_RESTART; };
        const bool restart = actions.lpsaActions != nullptr &&
                             std::any_of(actions.lpsaActions,
                                         actions.lpsaActions + actions.cActions, restarts);
        if (restart && (opened->access & SERVICE_START) == 0) {
            return Refuse(ERROR_ACCESS_DENIED);
        }
        RecordFailureActions(target, actions);
        return TRUE;
    }
    return Refuse(ERROR_INVALID_LEVEL);
}

void FakeServiceControl::AddService(const FakeService& service)
{
    const std::lock_guard lock(mutex_);
    auto record = std::make_shared<Record>();
    record->service = service;
    services_[UpperName(service.name.c_str())] = std::move(record);
}

std::optional<FakeService> FakeServiceControl::Service(const std::wstring& name) const
{
    const std::lock_guard lock(mutex_);
    const auto found = services_.find(UpperName(name.c_str()));
    return found == services_.end() ? std::nullopt
                                    : std::optional<FakeService>(found->second->service);
}

void FakeServiceControl::SetState(const std::wstring& name, DWORD state)
{
    const std::lock_guard lock(mutex_);
    const auto found = services_.find(UpperName(name.c_str()));
    if (found != services_.end()) {
        const auto record = found->second;
        record->service.state = state;
        RemoveIfGoneLocked(record);
    }
}

void FakeServiceControl::FailNext(ServiceCall call, DWORD error, unsigned skip)
{
    const std::lock_guard lock(mutex_);
    failNext_[call] = StagedFailure{skip, error};
}

void FakeServiceControl::FailAlways(ServiceCall call, DWORD error)
{
    const std::lock_guard lock(mutex_);
    if (error == ERROR_SUCCESS) {
        failAlways_.erase(call);
    } else {
        failAlways_[call] = error;
    }
}

void FakeServiceControl::RemoveChangeServiceConfig2W()
{
    const std::lock_guard lock(mutex_);
    changeConfig2Available_ = false;
}

bool FakeServiceControl::IsDatabaseLocked() const
{
    const std::lock_guard lock(mutex_);
    return locked_;
}

std::vector<std::wstring> FakeServiceControl::Calls() const
{
    const std::lock_guard lock(mutex_);
    return calls_;
}

SC_HANDLE FakeServiceControl::Open()
{
    return reinterpret_cast<SC_HANDLE>(handles_.Insert(std::make_shared<Handle>()));
}

}  // namespace os::fake

#include "platform/fake/FakeServices.h"

#include "resources/StringTable.h"

#include <algorithm>
#include <cwchar>

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

BOOL FakeSecurity::Fail(DWORD error)
{
    errors_.SetLastError(error);
    return FALSE;
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
    return handles_.Close(reinterpret_cast<HANDLE>(handle));
}

SC_HANDLE FakeServiceControl::Open()
{
    return reinterpret_cast<SC_HANDLE>(handles_.Insert(std::make_shared<Handle>()));
}

}  // namespace os::fake

#include "process/Impersonate.h"

#include "platform/EntryPoints.h"
#include "platform/Paths.h"
#include "platform/ResourceString.h"
#include "process/ProcessOpt.h"
#include "resources/StringTable.h"

#include <atomic>
#include <memory>
#include <new>
#include <string_view>

namespace {

constexpr DWORD kTokenAccess = TOKEN_DUPLICATE | TOKEN_IMPERSONATE | TOKEN_QUERY;
constexpr DWORD kUserNameCapacity = 1024;
constexpr DWORD kRemoteNameCapacity = 1024;

using ImpersonateSelfProc = decltype(&::ImpersonateSelf);
using ImpersonateLoggedOnUserProc = decltype(&::ImpersonateLoggedOnUser);

// Found by the first construction, then kept for the life of the service. Two threads filling
// them at once would store the same values.
std::atomic<ImpersonateSelfProc> g_impersonateSelf{nullptr};
std::atomic<ImpersonateLoggedOnUserProc> g_impersonateLoggedOnUser{nullptr};

void LookUpEntryPoints()
{
    if (g_impersonateSelf.load() != nullptr && g_impersonateLoggedOnUser.load() != nullptr) {
        return;
    }
    g_impersonateSelf.store(FindEntryPoint<ImpersonateSelfProc>(kAdvapi, "ImpersonateSelf"));
    g_impersonateLoggedOnUser.store(
        FindEntryPoint<ImpersonateLoggedOnUserProc>(kAdvapi, "ImpersonateLoggedOnUser"));
}

// A missing entry point fails its step as the call itself would have failed.
DWORD LastErrorOfMissingEntryPoint()
{
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return ERROR_PROC_NOT_FOUND;
}

// `pattern` (a string-table text) with each "%s" replaced by `user` and each "%d" by `error` in
// decimal, as a signed number the way "%d" prints it. Not a printf format: the pattern is data.
std::wstring FormatWarning(std::wstring_view pattern, std::wstring_view user, int error)
{
    std::wstring message;
    for (std::size_t index = 0; index < pattern.size(); ++index) {
        const std::wstring_view rest = pattern.substr(index);
        if (rest.starts_with(L"%s")) {
            message += user;
            ++index;
        } else if (rest.starts_with(L"%d")) {
            message += std::to_wstring(error);
            ++index;
        } else {
            message += pattern[index];
        }
    }
    return message;
}

bool CopyText(std::wstring_view text, wchar_t* output, DWORD capacity)
{
    if (text.size() >= capacity) {
        return false;
    }
    text.copy(output, text.size());
    output[text.size()] = L'\0';
    return true;
}

// A remembered, disconnected drive: the share's remembered name joined with the rest of the path.
bool NameOnRememberedShare(const wchar_t* path, wchar_t* output, DWORD capacity)
{
    const PathParts parts = SplitPath(path);
    if (!FitsSplitBuffers(parts)) {
        return false;
    }
    const std::wstring drive(parts.drive);
    wchar_t remote[kRemoteNameCapacity] = {};
    DWORD remoteChars = kRemoteNameCapacity;
    const DWORD answer = ::WNetGetConnectionW(drive.c_str(), remote, &remoteChars);
    if (answer != NO_ERROR && answer != ERROR_CONNECTION_UNAVAIL) {
        return false;
    }
    remote[kRemoteNameCapacity - 1] = L'\0';
    const std::optional<std::wstring> joined = JoinRememberedShare(remote, parts, capacity);
    return joined && CopyText(*joined, output, capacity);
}

}  // namespace

CImpersonate::CImpersonate(const EventLog& log) : log_(log)
{
    LookUpEntryPoints();
    wchar_t user[kUserNameCapacity] = {};
    DWORD chars = kUserNameCapacity;
    if (::GetUserNameW(user, &chars) != FALSE) {
        user[kUserNameCapacity - 1] = L'\0';
        serviceUserName_ = user;
    }
}

CImpersonate::~CImpersonate()
{
    if (threadTokenSet_) {
        ::RevertToSelf();
    }
    tokenHandle_.reset();
    processHandle_.reset();
}

BOOL CImpersonate::Impersonate(DWORD processId)
{
    processHandle_.reset(::OpenProcess(kProcessAllAccess, FALSE, processId));
    if (!processHandle_) {
        return 0;
    }

    const auto impersonateSelf = g_impersonateSelf.load();
    if (impersonateSelf == nullptr) {
        Report(kImpersonateSelfFailedEvent, IDS_IMPERSONATE_SELF_FAILED,
               LastErrorOfMissingEntryPoint());
        return 0;
    }
    if (impersonateSelf(SecurityImpersonation) == FALSE) {
        Report(kImpersonateSelfFailedEvent, IDS_IMPERSONATE_SELF_FAILED, ::GetLastError());
        return 0;
    }
    // From here on the thread has a token of ours, whatever fails next.
    threadTokenSet_ = true;

    if (::OpenProcessToken(processHandle_.get(), kTokenAccess, tokenHandle_.put()) == FALSE) {
        Report(kOpenProcessTokenFailedEvent, IDS_OPEN_TOKEN_FAILED, ::GetLastError());
        return 0;
    }

    const auto impersonateUser = g_impersonateLoggedOnUser.load();
    if (impersonateUser == nullptr) {
        Report(kImpersonateUserFailedEvent, IDS_DECIMAL_FORMAT, LastErrorOfMissingEntryPoint());
        return 0;
    }
    const BOOL impersonating = impersonateUser(tokenHandle_.get());
    if (impersonating == FALSE) {
        Report(kImpersonateUserFailedEvent, IDS_DECIMAL_FORMAT, ::GetLastError());
        return 0;
    }
    return impersonating;
}

void CImpersonate::Report(DWORD eventId, UINT textId, DWORD error) const
{
    const std::wstring message =
        FormatWarning(LoadResourceString(textId), serviceUserName_, static_cast<int>(error));
    log_.Write(EVENTLOG_WARNING_TYPE, eventId, {message.c_str()});
}

bool GetUniversalName(const wchar_t* path, wchar_t* output, DWORD capacity)
{
    if (output == nullptr || capacity == 0) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    if (path == nullptr) {
        return false;
    }
    DWORD scratchBytes = capacity * static_cast<DWORD>(sizeof(wchar_t));
    const std::unique_ptr<BYTE[]> scratch(new (std::nothrow) BYTE[scratchBytes]);
    if (scratch == nullptr) {
        return false;
    }
    const DWORD answer =
        ::WNetGetUniversalNameW(path, UNIVERSAL_NAME_INFO_LEVEL, scratch.get(), &scratchBytes);
    if (answer == NO_ERROR) {
        const auto* info = reinterpret_cast<const UNIVERSAL_NAME_INFOW*>(scratch.get());
        return info->lpUniversalName != nullptr &&
               CopyText(info->lpUniversalName, output, capacity);
    }
    if (answer == ERROR_CONNECTION_UNAVAIL) {
        return NameOnRememberedShare(path, output, capacity);
    }
    return false;
}

bool ConvertAsOwner(DWORD processId, const std::wstring& path, DWORD capacity,
                    const EventLog& log, std::optional<std::wstring>& universal)
{
    universal.reset();
    return RunAsOwner(processId, log, [&] {
        if (IsDevicePath(path)) {
            return;
        }
        const std::unique_ptr<wchar_t[]> output(new (std::nothrow) wchar_t[capacity]);
        if (output != nullptr && GetUniversalName(path.c_str(), output.get(), capacity)) {
            universal.emplace(output.get());
        }
    });
}

bool SetPrivilege(HANDLE token, const wchar_t* privilege, bool enable)
{
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    // An unknown name leaves the LUID zero, which the adjustment then refuses.
    ::LookupPrivilegeValueW(nullptr, privilege, &privileges.Privileges[0].Luid);
    privileges.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;

    ::SetLastError(ERROR_SUCCESS);
    ::AdjustTokenPrivileges(token, FALSE, &privileges, sizeof privileges, nullptr, nullptr);
    // The call succeeds even when it could not assign the privilege; only the last error tells.
    return ::GetLastError() == ERROR_SUCCESS;
}

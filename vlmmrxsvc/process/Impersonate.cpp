#include "process/Impersonate.h"

#include "platform/EntryPoints.h"
#include "platform/ResourceString.h"
#include "process/ImpersonationWarning.h"
#include "process/ShareNames.h"
#include "resources/StringTable.h"
#include "service/ServiceModule.h"

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

CImpersonate::CImpersonate()
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
    const std::wstring message = FormatImpersonationWarning(
        LoadResourceString(textId), serviceUserName_, static_cast<int>(error));
    Module().LogEvent(EVENTLOG_WARNING_TYPE, eventId, message.c_str());
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

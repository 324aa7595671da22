#include "process/Impersonate.h"

#include "platform/EntryPoints.h"
#include "resources/StringTable.h"
#include "service/ServiceModule.h"

#include <atomic>
#include <memory>
#include <new>
#include <string_view>

namespace {

constexpr DWORD kTokenAccess = TOKEN_DUPLICATE | TOKEN_IMPERSONATE | TOKEN_QUERY;
constexpr DWORD kUserNameCapacity = 1024;
constexpr int kWarningTextCapacity = 512;
constexpr DWORD kRemoteNameCapacity = 1024;
// Room that a remembered drive's parts take beyond their texts, as the conversion counts it.
constexpr std::size_t kJoinAllowance = 4;

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
    os::Errors().SetLastError(ERROR_PROC_NOT_FOUND);
    return ERROR_PROC_NOT_FOUND;
}

// A path cut into its parts as the C library's _wsplitpath cuts it.
struct PathParts {
    std::wstring_view drive;
    std::wstring_view directory;
    std::wstring_view name;
    std::wstring_view extension;
};

PathParts SplitPath(std::wstring_view path)
{
    PathParts parts;
    if (path.size() >= 2 && path[1] == L':') {
        parts.drive = path.substr(0, 2);
        path.remove_prefix(2);
    }
    const std::size_t lastSeparator = path.find_last_of(L"\\/");
    if (lastSeparator != std::wstring_view::npos) {
        parts.directory = path.substr(0, lastSeparator + 1);
        path.remove_prefix(lastSeparator + 1);
    }
    const std::size_t dot = path.find_last_of(L'.');
    parts.name = path.substr(0, dot);
    if (dot != std::wstring_view::npos) {
        parts.extension = path.substr(dot);
    }
    return parts;
}

// The parts must fit the platform's path-splitting buffers.
bool FitsSplitBuffers(const PathParts& parts)
{
    constexpr std::size_t kDriveChars = 2;
    constexpr std::size_t kDirectoryChars = 255;
    constexpr std::size_t kNameChars = 259;
    constexpr std::size_t kExtensionChars = 259;
    return parts.drive.size() <= kDriveChars && parts.directory.size() <= kDirectoryChars &&
           parts.name.size() <= kNameChars && parts.extension.size() <= kExtensionChars;
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
bool JoinRememberedShare(const wchar_t* path, wchar_t* output, DWORD capacity)
{
    const PathParts parts = SplitPath(path);
    if (!FitsSplitBuffers(parts)) {
        return false;
    }
    const std::wstring drive(parts.drive);
    wchar_t remote[kRemoteNameCapacity] = {};
    DWORD remoteChars = kRemoteNameCapacity;
    const DWORD answer = os::Network().WNetGetConnectionW(drive.c_str(), remote, &remoteChars);
    if (answer != NO_ERROR && answer != ERROR_CONNECTION_UNAVAIL) {
        return false;
    }
    remote[kRemoteNameCapacity - 1] = L'\0';
    const std::wstring_view share(remote);
    if (share.size() + parts.directory.size() + parts.name.size() + parts.extension.size() +
            kJoinAllowance > capacity) {
        return false;
    }
    std::wstring joined(share);
    if (parts.directory.empty() || parts.directory.front() != L'\\') {
        joined += L'\\';
    }
    joined.append(parts.directory).append(parts.name).append(parts.extension);
    return CopyText(joined, output, capacity);
}

}  // namespace

CImpersonate::CImpersonate()
{
    LookUpEntryPoints();
    wchar_t user[kUserNameCapacity] = {};
    DWORD chars = kUserNameCapacity;
    if (os::Security().GetUserNameW(user, &chars) != FALSE) {
        user[kUserNameCapacity - 1] = L'\0';
        serviceUserName_ = user;
    }
}

CImpersonate::~CImpersonate()
{
    if (threadTokenSet_) {
        os::Security().RevertToSelf();
    }
    tokenHandle_.reset();
    processHandle_.reset();
}

BOOL CImpersonate::Impersonate(DWORD processId)
{
    processHandle_.reset(os::Processes().OpenProcess(kProcessAllAccess, FALSE, processId));
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
        Report(kImpersonateSelfFailedEvent, IDS_IMPERSONATE_SELF_FAILED,
               os::Errors().GetLastError());
        return 0;
    }
    // From here on the thread has a token of ours, whatever fails next.
    threadTokenSet_ = true;

    if (os::Security().OpenProcessToken(processHandle_.get(), kTokenAccess, tokenHandle_.put()) ==
        FALSE) {
        Report(kOpenProcessTokenFailedEvent, IDS_OPEN_TOKEN_FAILED, os::Errors().GetLastError());
        return 0;
    }

    const auto impersonateUser = g_impersonateLoggedOnUser.load();
    if (impersonateUser == nullptr) {
        Report(kImpersonateUserFailedEvent, IDS_DECIMAL_FORMAT, LastErrorOfMissingEntryPoint());
        return 0;
    }
    const BOOL impersonating = impersonateUser(tokenHandle_.get());
    if (impersonating == FALSE) {
        Report(kImpersonateUserFailedEvent, IDS_DECIMAL_FORMAT, os::Errors().GetLastError());
        return 0;
    }
    return impersonating;
}

void CImpersonate::Report(DWORD eventId, UINT textId, DWORD error) const
{
    const std::wstring message = FormatImpersonationWarning(textId, serviceUserName_, error);
    Module().LogEvent(EVENTLOG_WARNING_TYPE, eventId, message.c_str());
}

std::wstring FormatImpersonationWarning(UINT textId, const std::wstring& user, DWORD error)
{
    wchar_t text[kWarningTextCapacity] = {};
    os::Resources().LoadStringW(textId, text, kWarningTextCapacity);
    const std::wstring_view pattern(text);
    std::wstring message;
    for (std::size_t index = 0; index < pattern.size(); ++index) {
        const std::wstring_view rest = pattern.substr(index);
        if (rest.starts_with(L"%s")) {
            message += user;
            ++index;
        } else if (rest.starts_with(L"%d")) {
            message += std::to_wstring(static_cast<int>(error));  // as "%d" prints it
            ++index;
        } else {
            message += pattern[index];
        }
    }
    return message;
}

bool GetUniversalName(const wchar_t* path, wchar_t* output, DWORD capacity)
{
    if (output == nullptr || capacity == 0) {
        os::Errors().SetLastError(ERROR_INSUFFICIENT_BUFFER);
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
    const DWORD answer = os::Network().WNetGetUniversalNameW(path, UNIVERSAL_NAME_INFO_LEVEL,
                                                             scratch.get(), &scratchBytes);
    if (answer == NO_ERROR) {
        const auto* info = reinterpret_cast<const UNIVERSAL_NAME_INFOW*>(scratch.get());
        return info->lpUniversalName != nullptr &&
               CopyText(info->lpUniversalName, output, capacity);
    }
    if (answer == ERROR_CONNECTION_UNAVAIL) {
        return JoinRememberedShare(path, output, capacity);
    }
    return false;
}

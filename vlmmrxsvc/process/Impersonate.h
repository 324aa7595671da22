// Acting as the user who owns a process, the privileges that let the service open and act as
// the processes of other users, and naming a file on a user's network drive by the share behind
// the drive.
#pragma once

#include "platform/EventLog.h"
#include "platform/UniqueResource.h"

#include <optional>
#include <string>

// Every process access right of the older platform definition of PROCESS_ALL_ACCESS.
inline constexpr DWORD kProcessAllAccess = 0x001F0FFF;

// Warnings that CImpersonate passes to the event log it is given (the service's writer drops
// them: only errors reach the log).
inline constexpr DWORD kImpersonateSelfFailedEvent = 0x80000002;
inline constexpr DWORD kOpenProcessTokenFailedEvent = 0x40000003;
inline constexpr DWORD kImpersonateUserFailedEvent = 0x40000004;

// Makes the calling thread act as the owner of a process, from a successful Impersonate until the
// object is destroyed. Lives on the stack of one operation; constructed, used and destroyed on one
// thread.
class CImpersonate {
public:
    // Looks up the impersonation entry points once for all instances, and reads the name of the
    // account the service runs under (for the warnings, which go to `log`; it must outlive the
    // object).
    explicit CImpersonate(const EventLog& log);
    // Brings the thread back to the service's own identity if the object changed it, on every
    // path, then closes the token and the process it opened.
    ~CImpersonate();
    CImpersonate(const CImpersonate&) = delete;
    CImpersonate& operator=(const CImpersonate&) = delete;

    // Nonzero when the thread now acts as the owner of `processId`. 0 on failure: silently when
    // the process cannot be opened, otherwise after a warning that names the failed step. Called
    // at most once per object.
    [[nodiscard]] BOOL Impersonate(DWORD processId);

private:
    void Report(DWORD eventId, UINT textId, DWORD error) const;

    const EventLog& log_;
    os::UniqueHandle processHandle_;
    os::UniqueHandle tokenHandle_;
    std::wstring serviceUserName_;
    bool threadTokenSet_ = false;  // the thread acts under a token this object gave it
};

// Runs `action` while the calling thread acts as the owner of process `processId`; a failure to act
// as the owner is reported to `log` (CImpersonate). False, without running it, when the owner
// could not be impersonated. The thread is back to its own identity when this returns, also when
// `action` throws.
template <typename Action>
[[nodiscard]] bool RunAsOwner(DWORD processId, const EventLog& log, Action&& action)
{
    CImpersonate owner(log);
    if (owner.Impersonate(processId) == FALSE) {
        return false;
    }
    action();
    return true;
}

// Rewrites `path`, on a drive that the user the thread acts as mapped to a network share, into
// the share's universal name, into `output` (room for `capacity` characters, terminator
// included). False when the path is not on such a drive, the provider fails or the result does
// not fit; `output` is then not to be used. A null `output` fails with ERROR_INSUFFICIENT_BUFFER
// as the last error.
[[nodiscard]] bool GetUniversalName(const wchar_t* path, wchar_t* output, DWORD capacity);

// While acting as the owner of process `processId` for this call alone, asks for the universal
// name of `path` on a drive that the owner mapped to a share (GetUniversalName, at most
// `capacity` characters); a failure to act as the owner is reported to `log`. False when the owner
// could not be impersonated; otherwise true, with `universal` holding the converted name, or
// nothing when the path does not convert or is a device path (which no provider converts, so it
// is not asked). The thread is back to its own identity when this returns.
[[nodiscard]] bool ConvertAsOwner(DWORD processId, const std::wstring& path, DWORD capacity,
                                  const EventLog& log, std::optional<std::wstring>& universal);

// Enables or disables one privilege of `token` (opened with TOKEN_ADJUST_PRIVILEGES). True only
// when the adjustment left no error: a privilege the token does not hold gives false.
[[nodiscard]] bool SetPrivilege(HANDLE token, const wchar_t* privilege, bool enable);

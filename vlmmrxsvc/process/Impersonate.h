// Acting as the user who owns a process, and naming a file on that user's network drive by the
// share behind the drive.
#pragma once

#include "platform/UniqueResource.h"

#include <string>

// Every process access right of the older platform definition of PROCESS_ALL_ACCESS.
inline constexpr DWORD kProcessAllAccess = 0x001F0FFF;

// Warnings that CImpersonate passes to the service's event-log writer.
inline constexpr DWORD kImpersonateSelfFailedEvent = 0x80000002;
inline constexpr DWORD kOpenProcessTokenFailedEvent = 0x40000003;
inline constexpr DWORD kImpersonateUserFailedEvent = 0x40000004;

// Makes the calling thread act as the owner of a process, from a successful Impersonate until the
// object is destroyed. Lives on the stack of one operation; constructed, used and destroyed on one
// thread.
class CImpersonate {
public:
    // Looks up the impersonation entry points once for all instances, and reads the name of the
    // account the service runs under (for the warnings).
    CImpersonate();
    // Brings the thread back to the service's own identity if the object changed it, on every
    // path, then closes the token and the process it opened.
    virtual ~CImpersonate();
    CImpersonate(const CImpersonate&) = delete;
    CImpersonate& operator=(const CImpersonate&) = delete;

    // Nonzero when the thread now acts as the owner of `processId`. 0 on failure: silently when
    // the process cannot be opened, otherwise after a warning that names the failed step. Called
    // at most once per object.
    [[nodiscard]] BOOL Impersonate(DWORD processId);

private:
    void Report(DWORD eventId, UINT textId, DWORD error) const;

    os::UniqueHandle processHandle_;
    os::UniqueHandle tokenHandle_;
    std::wstring serviceUserName_;
    bool threadTokenSet_ = false;  // the thread acts under a token this object gave it
};

// Rewrites `path`, on a drive that the user the thread acts as mapped to a network share, into
// the share's universal name, into `output` (room for `capacity` characters, terminator
// included). False when the path is not on such a drive, the provider fails or the result does
// not fit; `output` is then not to be used. A null `output` fails with ERROR_INSUFFICIENT_BUFFER
// as the last error.
[[nodiscard]] bool GetUniversalName(const wchar_t* path, wchar_t* output, DWORD capacity);

// Shared routines of the service host: waiting while dispatching messages, and token privileges.
#pragma once

#include "platform/WinTypes.h"

// Result of `WaitWithMessagePump` when its working copy of the handles cannot be allocated.
inline constexpr DWORD kWaitNoMemory = 0xC0000017;

// Waits for any of `handles` or until `timeoutMs` passes (INFINITE allowed), dispatching the
// calling thread's messages meanwhile; after each batch of messages the wait starts again with the
// whole time-out. A WM_QUIT is dispatched and consumed, not left for a later message loop.
// Returns the index of the signalled handle, WAIT_TIMEOUT, WAIT_ABANDONED_0 + index, WAIT_FAILED,
// or kWaitNoMemory. The caller's array is not handed to the system.
DWORD WaitWithMessagePump(DWORD count, const HANDLE* handles, DWORD timeoutMs);

// Enables or disables one privilege of `token` (opened with TOKEN_ADJUST_PRIVILEGES). True only
// when the adjustment left no error: a privilege the token does not hold gives false.
bool SetPrivilege(HANDLE token, const wchar_t* privilege, bool enable);

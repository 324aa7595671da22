// Waiting for handles while the calling thread's window messages are dispatched.
#pragma once

#include "platform/Windows.h"

// Result of `WaitWithMessagePump` when its working copy of the handles cannot be allocated.
inline constexpr DWORD kWaitNoMemory = 0xC0000017;

// Waits for any of `handles` or until `timeoutMs` passes (INFINITE allowed), dispatching the
// calling thread's messages meanwhile; after each batch of messages the wait starts again with the
// whole time-out. A WM_QUIT is dispatched and consumed, not left for a later message loop.
// Returns the index of the signalled handle, WAIT_TIMEOUT, WAIT_ABANDONED_0 + index, WAIT_FAILED,
// or kWaitNoMemory. The caller's array is not handed to the system.
[[nodiscard]] DWORD WaitWithMessagePump(DWORD count, const HANDLE* handles, DWORD timeoutMs);

// Whether a wait of up to `timeoutMs` on `stopEvent` alone ended because the event is signalled.
// A wait that fails (a null handle, for one) or times out did not.
[[nodiscard]] bool StopSignalledWithin(HANDLE stopEvent, DWORD timeoutMs);

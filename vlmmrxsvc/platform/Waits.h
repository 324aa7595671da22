// The named event that tells every thread of the service to stop, and waiting for it and other
// handles while the calling thread's window messages are dispatched.
#pragma once

#include "platform/UniqueResource.h"

// The stop event's name, in the session's local namespace. The service thread creates it
// (manual reset) before the other threads start and signals it once; it stays signalled.
inline constexpr const wchar_t* kStopEventName = L"MRXThreadEvent";

// Creates the event `name` (manual reset, not signalled) with a DACL that grants
// EVENT_ALL_ACCESS to Everyone and nothing else. Empty on failure, with the last error of the
// failed call.
[[nodiscard]] os::UniqueHandle CreateNamedEvent(const wchar_t* name);

// Result of `WaitWithMessagePump` when its working copy of the handles cannot be allocated.
inline constexpr DWORD kWaitNoMemory = 0xC0000017;

// A handle of the caller's own to the stop event, with SYNCHRONIZE access only; empty, with the
// system's last error, when the event does not exist.
[[nodiscard]] os::UniqueHandle OpenStopEvent();

// Waits for any of `handles` or until `timeoutMs` passes (INFINITE allowed), dispatching the
// calling thread's messages meanwhile; after each batch of messages the wait starts again with the
// whole time-out. A WM_QUIT is dispatched and consumed, not left for a later message loop.
// Returns the index of the signalled handle, WAIT_TIMEOUT, WAIT_ABANDONED_0 + index, WAIT_FAILED,
// or kWaitNoMemory. The caller's array is not handed to the system.
[[nodiscard]] DWORD WaitWithMessagePump(DWORD count, const HANDLE* handles, DWORD timeoutMs);

// Whether a wait of up to `timeoutMs` on `stopEvent` alone ended because the event is signalled.
// A wait that fails (a null handle, for one) or times out did not.
[[nodiscard]] bool StopSignalledWithin(HANDLE stopEvent, DWORD timeoutMs);

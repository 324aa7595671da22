// The named event that tells every thread of the service to stop. The service thread creates it
// before the other threads start and signals it once; it stays signalled from then on.
#pragma once

#include "platform/UniqueResource.h"

inline constexpr const wchar_t* kStopEventName = L"MRXThreadEvent";

// A handle of this thread's own to the stop event, with SYNCHRONIZE access only; empty when the
// event does not exist.
[[nodiscard]] os::UniqueHandle OpenStopEvent();

// Creates the event `name` (manual reset, not signalled) with a DACL that grants
// EVENT_ALL_ACCESS to Everyone and nothing else. Empty on failure, with the last error of the
// failed call.
[[nodiscard]] os::UniqueHandle CreateNamedEvent(const wchar_t* name);

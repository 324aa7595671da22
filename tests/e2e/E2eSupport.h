// What the end-to-end tests share: the service's executable beside them, run by hand or as the
// service, and the removal of what a test registered.
#pragma once

#include "WaitUntil.h"
#include "process/victim/Beside.h"
#include "platform/UniqueResource.h"

#include <chrono>
#include <functional>
#include <string>

namespace e2e {

using Clock = std::chrono::steady_clock;

inline constexpr const wchar_t* kServiceName = L"Velmora 64-bit Virtual Memory Optimization";
inline constexpr auto kStateTimeout = std::chrono::seconds(15);

// Runs `commandLine` (a system program such as "reg" or "sc", or a quoted path) and returns its
// exit code; a failure of the test when it cannot be started or does not end in time.
DWORD RunCommand(std::wstring commandLine);
// Runs the service's executable with `arguments` appended to its quoted path.
DWORD RunByHand(const std::wstring& arguments);

// The installed service opened with `access`; empty, with the last error, when it cannot be.
os::UniqueServiceHandle OpenOurService(DWORD access);

using testing_support::WaitUntil;
// Polls until the service reports `state`; the status last seen either way.
SERVICE_STATUS WaitForState(SC_HANDLE service, DWORD state,
                            Clock::duration timeout = kStateTimeout);
// Sends the stop control and waits for SERVICE_STOPPED.
SERVICE_STATUS Stop(SC_HANDLE service, Clock::duration timeout = kStateTimeout);

// At the end of its scope, unregisters everything with the executable's own switch. The service
// must have stopped: a service still running would only be marked for deletion.
struct RemoveEverythingAtTheEnd {
    ~RemoveEverythingAtTheEnd();
};

}  // namespace e2e

// Neither thread does its work yet: each only waits for the stop event, so that the service's
// start and bounded stop are real.
#include "worker/WorkerThreads.h"

#include "service/StopEvent.h"
#include "service/Waits.h"

namespace {

unsigned WaitUntilStopped()
{
    const os::UniqueHandle stopEvent = OpenStopEvent();
    if (!stopEvent) {
        return 0;
    }
    const HANDLE handles[] = {stopEvent.get()};
    WaitWithMessagePump(1, handles, INFINITE);
    return 0;
}

}  // namespace

unsigned WINAPI WorkerThreadProc(void*) { return WaitUntilStopped(); }

unsigned WINAPI RegistryWatchThreadProc(void*) { return WaitUntilStopped(); }

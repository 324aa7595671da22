// The worker does not do its work yet: it only waits for the stop event, so that the service's
// start and bounded stop are real. The registry watcher is in RegistryWatcher.cpp.
#include "worker/WorkerThreads.h"

#include "service/StopEvent.h"
#include "service/Waits.h"

unsigned WINAPI WorkerThreadProc(void*)
{
    const os::UniqueHandle stopEvent = OpenStopEvent();
    if (!stopEvent) {
        return 0;
    }
    static_cast<void>(StopSignalledWithin(stopEvent.get(), INFINITE));
    return 0;
}

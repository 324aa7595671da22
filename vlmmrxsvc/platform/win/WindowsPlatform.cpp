#include "platform/win/WindowsPlatform.h"

namespace os {

const Platform& WindowsPlatform()
{
    // Never destroyed: the service module is destroyed at process exit and closes its event
    // source through the seam after function-local statics would already be gone.
    static const Platform* const instance = new Platform{
        &WindowsErrors(),   &WindowsKernel(),   &WindowsRegistry(),       &WindowsEventLog(),
        &WindowsResources(), &WindowsSecurity(), &WindowsServiceControl(), &WindowsFiles(),
        &WindowsProcesses(), &WindowsNetwork()};
    return *instance;
}

}  // namespace os

// The real implementation of the platform seam.
#pragma once

#include "platform/Platform.h"

namespace os {

// The Windows implementation of every interface. It lives for the whole process (it is never
// destroyed, so that objects destroyed at exit can still close their handles through it).
const Platform& WindowsPlatform();

// One instance per implementation class, made on first use and never destroyed.
template <typename T>
T& LeakyInstance()
{
    static T* const instance = new T;
    return *instance;
}

IErrors& WindowsErrors();
IKernel& WindowsKernel();
IRegistry& WindowsRegistry();
IEventLog& WindowsEventLog();
IResources& WindowsResources();
ISecurity& WindowsSecurity();
IServiceControl& WindowsServiceControl();
IFiles& WindowsFiles();
IProcesses& WindowsProcesses();
INetwork& WindowsNetwork();

}  // namespace os

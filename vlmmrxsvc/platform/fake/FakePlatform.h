// Every fake of the seam, wired together and made current for the lifetime of the object.
#pragma once

#include "platform/fake/FakeFiles.h"
#include "platform/fake/FakeKernel.h"
#include "platform/fake/FakeNetwork.h"
#include "platform/fake/FakeProcesses.h"
#include "platform/fake/FakeRegistry.h"
#include "platform/fake/FakeServices.h"

namespace os::fake {

class FakePlatform {
public:
    FakePlatform();
    ~FakePlatform();
    FakePlatform(const FakePlatform&) = delete;
    FakePlatform& operator=(const FakePlatform&) = delete;

    FakeHandleTable handles;  // kernel objects: events, tokens, threads, processes, files
    FakeErrors errors;
    FakeKernel kernel;
    FakeRegistry registry;
    FakeEventLog eventLog;
    FakeResources resources;
    FakeSecurity security;
    FakeServiceControl serviceControl;
    FakeFiles files;
    FakeProcesses processes;
    FakeNetwork network;  // answers for the user the thread acts as in `security`

    // Kernel handles (process handles and tokens included), registry keys, event sources,
    // service handles and views still open.
    std::size_t OpenResourceCount() const;

private:
    Platform platform_;
    ScopedPlatform installed_;
};

}  // namespace os::fake

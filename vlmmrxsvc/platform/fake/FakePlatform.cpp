#include "platform/fake/FakePlatform.h"

namespace os::fake {

FakePlatform::FakePlatform()
    : kernel(handles, errors),
      registry(kernel),
      security(handles, errors),
      serviceControl(errors),
      files(handles, errors),
      processes(handles, errors),
      network(security),
      platform_{&errors, &kernel, &registry, &eventLog, &resources, &security, &serviceControl,
                &files, &processes, &network},
      installed_(platform_)
{
    FakeProcesses::Export(kernel);
    FakeSecurity::Export(kernel);
}

FakePlatform::~FakePlatform() = default;

std::size_t FakePlatform::OpenResourceCount() const
{
    return handles.OpenCount() + registry.OpenKeyCount() + eventLog.OpenSourceCount() +
           serviceControl.OpenCount() + files.MappedViewCount();
}

}  // namespace os::fake

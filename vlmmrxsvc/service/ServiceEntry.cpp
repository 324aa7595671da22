// The process entry of the executable. Kept apart from the rest of the service host so that the
// test executables, which link everything else, have an entry and a module of their own.
#include "service/ServiceModule.h"

namespace {

CServiceModule g_serviceModule;

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    const wchar_t* commandLine = ::GetCommandLineW();
    CServiceModule& module = Module();
    module.InitModule(instance);
    switch (module.ParseCommandLine(commandLine)) {
    case CommandLineSwitch::UnregServer:
        return module.UnregisterServer();
    case CommandLineSwitch::RegServer:
        return module.RegisterServer(TRUE, FALSE);
    case CommandLineSwitch::Service:
        return module.RegisterServer(TRUE, TRUE);
    case CommandLineSwitch::None:
        break;
    }
    return static_cast<int>(module.Start());
}

// Installation and registration are not built yet: the switches are recognised and answer
// E_NOTIMPL without touching the machine.
#include "service/ServiceModule.h"

HRESULT CServiceModule::RegisterServer(BOOL, BOOL) { return E_NOTIMPL; }

HRESULT CServiceModule::UnregisterServer() { return E_NOTIMPL; }

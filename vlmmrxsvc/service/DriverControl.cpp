#include "service/DriverControl.h"

#include "platform/UniqueResource.h"
#include "service/ServiceModule.h"

bool CServiceModule::SendDriverControl(DWORD code)
{
    // Opened afresh for each code and closed at once: no handle keeps the driver busy between
    // codes.
    const os::UniqueFile device(::CreateFileW(kStreamDriverDevice, GENERIC_READ | GENERIC_WRITE, 0,
                                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                              nullptr));
    if (!device) {
        return false;
    }
    DWORD returned = 0;
    return ::DeviceIoControl(device.get(), code, nullptr, 0, nullptr, 0, &returned, nullptr) !=
           FALSE;
}

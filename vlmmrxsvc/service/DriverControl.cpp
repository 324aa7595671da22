#include "service/DriverControl.h"

#include "platform/UniqueResource.h"
#include "service/ServiceModule.h"

bool CServiceModule::SendDriverControl(DWORD code)
{
    // Opened afresh for each code and closed at once: no handle keeps the driver busy between
    // codes.
    const os::UniqueFile device(os::Files().CreateFileW(kStreamDriverDevice,
                                                        GENERIC_READ | GENERIC_WRITE, 0,
                                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL));
    if (!device) {
        return false;
    }
    DWORD returned = 0;
    return os::Files().DeviceIoControl(device.get(), code, nullptr, 0, nullptr, 0, &returned) !=
           FALSE;
}

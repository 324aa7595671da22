#include "service/StopEvent.h"

os::UniqueHandle OpenStopEvent()
{
    return os::UniqueHandle(os::Kernel().OpenEventW(SYNCHRONIZE, FALSE, kStopEventName));
}

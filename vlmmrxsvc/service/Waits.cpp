#include "service/Waits.h"

#include <new>
#include <vector>

DWORD WaitWithMessagePump(DWORD count, const HANDLE* handles, DWORD timeoutMs)
{
    std::vector<HANDLE> copy;
    try {
        copy.assign(handles, handles + count);
    } catch (const std::bad_alloc&) {
        return kWaitNoMemory;
    }

    for (;;) {
        const DWORD result =
            ::MsgWaitForMultipleObjects(count, copy.data(), FALSE, timeoutMs, QS_ALLINPUT);
        if (result != WAIT_OBJECT_0 + count) {
            return result;
        }
        MSG message{};
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE) != FALSE) {
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
            if (message.message == WM_QUIT) {
                break;
            }
        }
    }
}

bool StopSignalledWithin(HANDLE stopEvent, DWORD timeoutMs)
{
    const HANDLE handles[] = {stopEvent};
    return WaitWithMessagePump(1, handles, timeoutMs) == WAIT_OBJECT_0;
}

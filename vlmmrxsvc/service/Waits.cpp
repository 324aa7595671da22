#include "service/Waits.h"

#include "platform/Platform.h"

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

    os::IKernel& kernel = os::Kernel();
    for (;;) {
        const DWORD result =
            kernel.MsgWaitForMultipleObjects(count, copy.data(), FALSE, timeoutMs, QS_ALLINPUT);
        if (result != WAIT_OBJECT_0 + count) {
            return result;
        }
        MSG message{};
        while (kernel.PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE) != FALSE) {
            kernel.TranslateMessage(&message);
            kernel.DispatchMessageW(&message);
            if (message.message == WM_QUIT) {
                break;
            }
        }
    }
}

bool SetPrivilege(HANDLE token, const wchar_t* privilege, bool enable)
{
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    // An unknown name leaves the LUID zero, which the adjustment then refuses.
    os::Security().LookupPrivilegeValueW(nullptr, privilege, &privileges.Privileges[0].Luid);
    privileges.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;

    os::Errors().SetLastError(ERROR_SUCCESS);
    os::Security().AdjustTokenPrivileges(token, FALSE, &privileges, sizeof privileges);
    // The call succeeds even when it could not assign the privilege; only the last error tells.
    return os::Errors().GetLastError() == ERROR_SUCCESS;
}

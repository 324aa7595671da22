#include "service/Privileges.h"

bool SetPrivilege(HANDLE token, const wchar_t* privilege, bool enable)
{
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    // An unknown name leaves the LUID zero, which the adjustment then refuses.
    ::LookupPrivilegeValueW(nullptr, privilege, &privileges.Privileges[0].Luid);
    privileges.Privileges[0].Attributes = enable ? SE_PRIVILEGE_ENABLED : 0;

    ::SetLastError(ERROR_SUCCESS);
    ::AdjustTokenPrivileges(token, FALSE, &privileges, sizeof privileges, nullptr, nullptr);
    // The call succeeds even when it could not assign the privilege; only the last error tells.
    return ::GetLastError() == ERROR_SUCCESS;
}

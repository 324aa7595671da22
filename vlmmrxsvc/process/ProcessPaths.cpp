#include "process/ProcessPaths.h"

#include "platform/Platform.h"

DWORD QueryModuleFileName(HANDLE process, HMODULE module, PathBuffer& buffer)
{
    const DWORD result = os::Processes().GetModuleFileNameExW(
        process, module, buffer.data(), static_cast<DWORD>(buffer.size()));
    buffer.back() = L'\0';
    return result;
}

bool IsReachable(const wchar_t* path)
{
    return os::Files().GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

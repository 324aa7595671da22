#include "process/ProcessPaths.h"

#include "process/Impersonate.h"

#include <memory>
#include <new>

DWORD QueryModuleFileName(HANDLE process, HMODULE module, PathBuffer& buffer)
{
    const DWORD result = ::GetModuleFileNameExW(process, module, buffer.data(),
                                                static_cast<DWORD>(buffer.size()));
    buffer.back() = L'\0';
    return result;
}

bool IsReachable(const wchar_t* path)
{
    return ::GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

bool IsDevicePath(const std::wstring& path) { return !path.empty() && path.front() == L'\\'; }

bool ConvertAsOwner(DWORD processId, const std::wstring& path, DWORD capacity,
                    std::optional<std::wstring>& universal)
{
    universal.reset();
    CImpersonate owner;
    if (owner.Impersonate(processId) == FALSE) {
        return false;
    }
    if (IsDevicePath(path)) {
        return true;
    }
    const std::unique_ptr<wchar_t[]> output(new (std::nothrow) wchar_t[capacity]);
    if (output != nullptr && GetUniversalName(path.c_str(), output.get(), capacity)) {
        universal.emplace(output.get());
    }
    return true;
}

// Entry points that the service looks up at run time in modules already loaded in its process,
// because a platform may lack them, and the types to call them with.
#pragma once

#include "platform/Platform.h"

using NtQuerySystemInformationProc = NTSTATUS(WINAPI*)(ULONG infoClass, void* buffer,
                                                       ULONG bytes, ULONG* returned);
using NtQueryInformationProcessProc = NTSTATUS(WINAPI*)(HANDLE process, ULONG infoClass,
                                                        void* info, ULONG bytes, ULONG* returned);
using ImpersonateSelfProc = BOOL(WINAPI*)(SECURITY_IMPERSONATION_LEVEL level);
using ImpersonateLoggedOnUserProc = BOOL(WINAPI*)(HANDLE token);

inline constexpr const wchar_t* kNtdll = L"Ntdll";
inline constexpr const wchar_t* kAdvapi = L"Advapi32";

// The export `name` of the already loaded `module` (GetModuleHandleW, GetProcAddress), as a
// `Proc`; null when the module is not loaded or has no such export. An entry point found stays
// valid for the life of the process: the module is never unloaded.
template <typename Proc>
Proc FindEntryPoint(const wchar_t* module, const char* name)
{
    const HMODULE loaded = os::Kernel().GetModuleHandleW(module);
    if (loaded == nullptr) {
        return nullptr;
    }
    // Through an untyped function pointer: the export's real type is the caller's to know.
    return reinterpret_cast<Proc>(
        reinterpret_cast<void (*)()>(os::Kernel().GetProcAddress(loaded, name)));
}

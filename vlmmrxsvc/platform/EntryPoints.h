// Entry points that the service looks up at run time, because a platform may lack them: the one
// way every part of the service finds them.
#pragma once

#include "platform/Windows.h"

inline constexpr const wchar_t* kNtdll = L"Ntdll";
inline constexpr const wchar_t* kAdvapi = L"Advapi32";
inline constexpr const wchar_t* kKernel32 = L"kernel32.dll";

// The export `name` of the already loaded `module` (GetModuleHandleW, then GetProcAddress), typed
// as the caller's declaration of it: FindEntryPoint<decltype(&::ImpersonateSelf)>(kAdvapi,
// "ImpersonateSelf"). Null when the module is not loaded or has no such export. Every module
// named here is loaded in every process and never unloaded, so an entry point found stays valid
// for the life of the process.
template <typename Proc>
[[nodiscard]] Proc FindEntryPoint(const wchar_t* module, const char* name)
{
    const HMODULE loaded = ::GetModuleHandleW(module);
    if (loaded == nullptr) {
        return nullptr;
    }
    // Through an untyped function pointer: the export's real type is the caller's to know.
    return reinterpret_cast<Proc>(reinterpret_cast<void (*)()>(::GetProcAddress(loaded, name)));
}

// The handles of the test program that a run of the worker could leave open: those to processes,
// tokens, files, file mappings and registry keys. Handles of other kinds come and go with the
// runtime's own first uses (a thread's handle for the threading library, a semaphore for a lock
// that was contended, the debug output's mutex), which a test does not control.
#pragma once

#include <windows.h>
#include <winternl.h>

#include <string_view>

namespace testing_support {

// How many handles of those kinds the test program holds, found by asking every handle value up
// to the largest the program has used.
inline DWORD CountResourceHandles()
{
    constexpr ULONG_PTR kHandleStep = 4;
    constexpr ULONG_PTR kLargestHandle = 0x4000;
    constexpr std::wstring_view kKinds[] = {L"Process", L"Token", L"File", L"Section", L"Key"};
    DWORD count = 0;
    for (ULONG_PTR value = kHandleStep; value <= kLargestHandle; value += kHandleStep) {
        const auto handle = reinterpret_cast<HANDLE>(value);
        DWORD flags = 0;
        alignas(PUBLIC_OBJECT_TYPE_INFORMATION) unsigned char type[1024] = {};
        if (!::GetHandleInformation(handle, &flags) ||
            ::NtQueryObject(handle, ObjectTypeInformation, type, sizeof type, nullptr) != 0) {
            continue;
        }
        const UNICODE_STRING& name = reinterpret_cast<PUBLIC_OBJECT_TYPE_INFORMATION*>(type)->TypeName;
        const std::wstring_view kind(name.Buffer, name.Length / sizeof(wchar_t));
        for (const std::wstring_view wanted : kKinds) {
            count += kind == wanted ? 1 : 0;
        }
    }
    return count;
}

}  // namespace testing_support

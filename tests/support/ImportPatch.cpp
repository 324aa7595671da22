#include "ImportPatch.h"

#include <gtest/gtest.h>

#include <cstring>

namespace testing_support {
namespace {

template <typename T>
T* At(BYTE* base, DWORD rva)
{
    return reinterpret_cast<T*>(base + rva);
}

// The import-address slot of the program's own import `function`; null when there is none.
void** FindImportSlot(const char* function)
{
    auto* base = reinterpret_cast<BYTE*>(::GetModuleHandleW(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = At<const IMAGE_NT_HEADERS>(base, static_cast<DWORD>(dos->e_lfanew));
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* library = At<IMAGE_IMPORT_DESCRIPTOR>(base, imports.VirtualAddress);
         imports.VirtualAddress != 0 && library->Name != 0; ++library) {
        auto* names = At<IMAGE_THUNK_DATA>(base, library->OriginalFirstThunk);
        auto* slots = At<IMAGE_THUNK_DATA>(base, library->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) {
                continue;
            }
            const auto* byName =
                At<IMAGE_IMPORT_BY_NAME>(base, static_cast<DWORD>(names->u1.AddressOfData));
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) == 0) {
                return reinterpret_cast<void**>(&slots->u1.Function);
            }
        }
    }
    return nullptr;
}

void WriteSlot(void** slot, const void* value)
{
    DWORD previous = 0;
    ::VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &previous);
    *slot = const_cast<void*>(value);
    ::VirtualProtect(slot, sizeof *slot, previous, &previous);
}

// The one entry-point patch in force: its name, its double and the real GetProcAddress.
const char* g_entryName = nullptr;
const void* g_entryReplacement = nullptr;
decltype(&::GetProcAddress) g_realGetProcAddress = nullptr;

FARPROC WINAPI PatchedGetProcAddress(HMODULE module, LPCSTR name)
{
    // Names only: a lookup by ordinal passes a small number in place of the text.
    constexpr ULONG_PTR kLargestOrdinal = 0xFFFF;
    if (g_entryName != nullptr && reinterpret_cast<ULONG_PTR>(name) > kLargestOrdinal &&
        std::strcmp(name, g_entryName) == 0) {
        return reinterpret_cast<FARPROC>(const_cast<void*>(g_entryReplacement));
    }
    return g_realGetProcAddress(module, name);
}

}  // namespace

ImportPatch::ImportPatch(const char* function, const void* replacement)
    : slot_(FindImportSlot(function))
{
    if (slot_ == nullptr) {
        ADD_FAILURE() << "the test program does not import " << function;
        return;
    }
    original_ = *slot_;
    WriteSlot(slot_, replacement);
}

ImportPatch::~ImportPatch()
{
    if (slot_ != nullptr) {
        WriteSlot(slot_, original_);
    }
}

EntryPointPatch::EntryPointPatch(const char* name, const void* replacement)
    : patch_("GetProcAddress", reinterpret_cast<const void*>(&PatchedGetProcAddress))
{
    g_realGetProcAddress = patch_.Original<decltype(&::GetProcAddress)>();
    g_entryName = name;
    g_entryReplacement = replacement;
}

EntryPointPatch::~EntryPointPatch() { g_entryName = nullptr; }

}  // namespace testing_support

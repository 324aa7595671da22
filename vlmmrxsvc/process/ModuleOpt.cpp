#include "process/ModuleOpt.h"

#include "platform/Platform.h"
#include "process/Impersonate.h"
#include "process/ProcessPaths.h"
#include "service/ServiceModule.h"

namespace {

bool IsDevicePath(const std::wstring& path) { return !path.empty() && path.front() == L'\\'; }

void* AddressOf(ULONGLONG address) { return reinterpret_cast<void*>(address); }

}  // namespace

bool CModuleOpt::SetPath(const wchar_t* text)
{
    path = text == nullptr ? L"" : text;
    if (IsReachable(path.c_str())) {
        return true;
    }
    CImpersonate owner;
    if (owner.Impersonate(processId) == FALSE) {
        return false;
    }
    // A universal or device path is already as reachable as it gets.
    if (!IsDevicePath(path)) {
        wchar_t universal[kModuleUniversalNameCapacity] = {};
        if (GetUniversalName(path.c_str(), universal, kModuleUniversalNameCapacity)) {
            path = universal;
        }
    }
    return true;
}

std::wstring CModuleOpt::QueryOccupant(HANDLE process, ULONGLONG address)
{
    MEMORY_BASIC_INFORMATION memory{};
    if (os::Processes().VirtualQueryEx(process, AddressOf(address), &memory, sizeof memory) == 0) {
        return {};
    }
    // A free region has no allocation base (0); asked for module 0 the platform names the main
    // executable.
    PathBuffer name{};
    if (QueryModuleFileName(process, static_cast<HMODULE>(memory.AllocationBase), name) != 0) {
        return name.data();
    }
    name.fill(L'\0');
    if (os::Processes().GetMappedFileNameW(process, memory.AllocationBase, name.data(),
                                           kImagePathCharacters) == 0) {
        return {};
    }
    return name.data();
}

std::wstring CModuleOpt::GetOccupantName(HANDLE process)
{
    if (!occupantName.empty()) {
        return occupantName;
    }
    const std::wstring unknown = Module().unknownName;
    occupantName = QueryOccupant(process, preferredBase);
    if (occupantName.empty()) {
        occupantName = unknown;
        return occupantName;
    }
    // A mapped file's device-form name is never converted.
    if (IsReachable(occupantName.c_str()) || IsDevicePath(occupantName)) {
        return occupantName;
    }
    CImpersonate owner;
    if (owner.Impersonate(processId) == FALSE) {
        return unknown;
    }
    wchar_t universal[kModuleUniversalNameCapacity] = {};
    if (GetUniversalName(occupantName.c_str(), universal, kModuleUniversalNameCapacity)) {
        occupantName = universal[0] != L'\0' ? universal : unknown;
    }
    return occupantName;
}

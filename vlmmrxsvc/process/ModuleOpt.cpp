#include "process/ModuleOpt.h"

#include "process/Impersonate.h"
#include "process/ProcessOpt.h"

#include <optional>

namespace {

void* AddressOf(ULONGLONG address) { return reinterpret_cast<void*>(address); }

}  // namespace

bool CModuleOpt::SetPath(const wchar_t* text)
{
    path = text == nullptr ? L"" : text;
    if (IsReachable(path.c_str())) {
        return true;
    }
    // A device path is impersonated for all the same, and only that failure is reported.
    std::optional<std::wstring> universal;
    if (!ConvertAsOwner(processId, path, kModuleUniversalNameCapacity, context_.log, universal)) {
        return false;
    }
    if (universal) {
        path = *universal;
    }
    return true;
}

std::wstring CModuleOpt::QueryOccupant(HANDLE process, ULONGLONG address)
{
    MEMORY_BASIC_INFORMATION memory{};
    if (::VirtualQueryEx(process, AddressOf(address), &memory, sizeof memory) == 0) {
        return {};
    }
    // A free region has no allocation base (0); asked for module 0 the platform names the main
    // executable.
    PathBuffer name{};
    if (QueryModuleFileName(process, static_cast<HMODULE>(memory.AllocationBase), name) != 0) {
        return name.data();
    }
    name.fill(L'\0');
    if (::GetMappedFileNameW(process, memory.AllocationBase, name.data(),
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
    const std::wstring& unknown = context_.unknownName;
    occupantName = QueryOccupant(process, preferredBase);
    if (occupantName.empty()) {
        occupantName = unknown;
        return occupantName;
    }
    // A mapped file's device-form name is never converted.
    if (IsReachable(occupantName.c_str()) || IsDevicePath(occupantName)) {
        return occupantName;
    }
    std::optional<std::wstring> universal;
    if (!ConvertAsOwner(processId, occupantName, kModuleUniversalNameCapacity, context_.log,
                        universal)) {
        return unknown;
    }
    if (universal) {
        occupantName = !universal->empty() ? *universal : unknown;
    }
    return occupantName;
}

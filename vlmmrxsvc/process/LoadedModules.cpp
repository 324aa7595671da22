#include "process/LoadedModules.h"

#include "platform/EntryPoints.h"
#include "platform/LoaderLayout.h"

namespace {

// The address of the process's environment block; 0 when it cannot be queried.
std::uint64_t FindEnvironmentBlock(HANDLE process)
{
    const auto query = FindEntryPoint<decltype(&::NtQueryInformationProcess)>(
        kNtdll, "NtQueryInformationProcess");
    PROCESS_BASIC_INFORMATION basic{};
    ULONG returned = 0;
    if (query == nullptr ||
        query(process, static_cast<PROCESSINFOCLASS>(loader::kProcessBasicInformation), &basic,
              sizeof basic, &returned) != 0) {
        return 0;
    }
    return reinterpret_cast<ULONG_PTR>(basic.PebBaseAddress);
}

}  // namespace

std::vector<LoadedModule> ReadLoadedModules(HANDLE process)
{
    const std::uint64_t peb = FindEnvironmentBlock(process);
    if (peb == 0) {
        return {};
    }
    return ReadLoaderList(peb, [process](std::uint64_t address, std::span<std::uint8_t> into) {
        SIZE_T read = 0;
        return ::ReadProcessMemory(process, reinterpret_cast<const void*>(address), into.data(),
                                   into.size(), &read) != FALSE &&
               read == into.size();
    });
}

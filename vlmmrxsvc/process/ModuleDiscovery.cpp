// Module discovery: which modules of a process the loader did not place at the preferred base
// written in their files.
#include "image/ImageFile.h"
#include "platform/EntryPoints.h"
#include "platform/Paths.h"
#include "platform/Waits.h"
#include "process/ProcessOpt.h"

#include <optional>

namespace {

constexpr DWORD kProbeFlags = SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;

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

// Opens nothing but the file's metadata: named pipes, devices and other files that are not on a
// disk are never examined.
bool IsDiskFile(const wchar_t* path)
{
    const os::UniqueFile probe(
        ::CreateFileW(path, 0, 0, nullptr, OPEN_EXISTING, kProbeFlags, nullptr));
    return probe && ::GetFileType(probe.get()) == FILE_TYPE_DISK;
}

// The ImageBase in the file's PE headers, 0 when the headers give none; nothing when the file
// cannot be opened and mapped (what each means for the module: RelocatedBase).
std::optional<std::uint64_t> ReadPreferredBase(CImageFile& image, const wchar_t* path)
{
    if (!image.Open(path, true)) {
        return std::nullopt;
    }
    const ULONGLONG base = image.IsPE32Plus() ? image.ReadImageBase64() : image.ReadImageBase32();
    image.Close();
    return base;
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

void CProcessOpt::WaitBeforeModule() const
{
    if (StopSignalledWithin(stopEvent.get(), context_.moduleWaitMs)) {
        throw kStopEventName;
    }
}

void CProcessOpt::ExamineModule(const LoadedModule& module)
{
    // A path of kImagePathCharacters or more, or one that could not be read, is left empty. The
    // path comes from the process's own memory, which the process can forge: one that names a
    // pipe is passed over before any file call, the probe included.
    if (module.path.empty() || NamesPipe(module.path) || !IsDiskFile(module.path.c_str())) {
        return;
    }
    const std::optional<std::uint64_t> preferredBase =
        RelocatedBase(module, ReadPreferredBase(image_, module.path.c_str()));
    if (!preferredBase) {
        return;
    }
    auto record = std::make_unique<CModuleOpt>(context_);
    record->processId = processId;
    record->loadBase = module.base;
    record->preferredBase = *preferredBase;
    // A path that stays unreachable is recorded as the process reported it.
    static_cast<void>(record->SetPath(module.path.c_str()));
    modules.push_back(std::move(record));
}

std::vector<CModuleOpt*> CProcessOpt::ModuleRecords() const
{
    std::vector<CModuleOpt*> records;
    records.reserve(modules.size());
    for (const auto& record : modules) {
        records.push_back(record.get());
    }
    return records;
}

std::vector<CModuleOpt*> CProcessOpt::EnumerateModules()
{
    // The list as it is now; a module that unloads later is still examined by its file.
    for (const LoadedModule& module : ReadLoadedModules(processHandle.get())) {
        WaitBeforeModule();
        ExamineModule(module);
    }
    return ModuleRecords();
}

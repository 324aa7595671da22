// Module discovery: which modules of a process the loader did not place at the preferred base
// written in their files.
#include "image/ImageFile.h"
#include "platform/Paths.h"
#include "process/LoadedModules.h"
#include "process/ProcessOpt.h"
#include "service/StopEvent.h"
#include "service/Waits.h"

#include <optional>

namespace {

constexpr DWORD kProbeFlags = SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;

// Opens nothing but the file's metadata: named pipes, devices and other files that are not on a
// disk are never examined.
bool IsDiskFile(const wchar_t* path)
{
    const os::UniqueFile probe(
        ::CreateFileW(path, 0, 0, nullptr, OPEN_EXISTING, kProbeFlags, nullptr));
    return probe && ::GetFileType(probe.get()) == FILE_TYPE_DISK;
}

// The ImageBase in the file's PE headers, 0 when the headers give none (the file was replaced or
// damaged since it was loaded: it is recorded with preferred base 0, which tells the reader of
// the records as much); nothing when the file cannot be opened and mapped, so that a module is
// never compared with a base that is not its own.
std::optional<ULONGLONG> ReadPreferredBase(CImageFile& image, const wchar_t* path)
{
    if (!image.Open(path, true)) {
        return std::nullopt;
    }
    const ULONGLONG base = image.IsPE32Plus() ? image.ReadImageBase64() : image.ReadImageBase32();
    image.Close();
    return base;
}

}  // namespace

void CProcessOpt::WaitBeforeModule() const
{
    if (StopSignalledWithin(stopEvent.get(), moduleWaitMs_)) {
        throw kStopEventName;
    }
}

void CProcessOpt::ExamineModule(const LoadedModule& module)
{
    // A path of kImagePathCharacters or more, or one that could not be read, is left empty. The
    // path comes from the process's own memory, which the process can forge: one that names a
    // pipe is passed over before any file call, the probe included.
    if (module.size == 0 || module.path.empty() || NamesPipe(module.path) ||
        !IsDiskFile(module.path.c_str())) {
        return;
    }
    // A file that cannot be read has no preferred base of its own to compare.
    const std::optional<ULONGLONG> preferredBase = ReadPreferredBase(image_, module.path.c_str());
    if (!preferredBase || *preferredBase == module.base) {
        return;
    }
    auto record = std::make_unique<CModuleOpt>();
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

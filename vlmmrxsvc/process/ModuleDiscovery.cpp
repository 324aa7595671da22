// Module discovery: which modules of a process the loader did not place at the preferred base
// written in their files.
#include "image/ImageFile.h"
#include "platform/Platform.h"
#include "process/ProcessOpt.h"
#include "process/ProcessPaths.h"
#include "service/StopEvent.h"
#include "service/Waits.h"

#include <algorithm>
#include <new>
#include <optional>

namespace {

// The module list is read again while its size changes between the query and the read; a
// process that keeps loading and unloading modules is examined with the list read last.
constexpr int kModuleListReads = 16;
constexpr DWORD kProbeFlags = SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;

ULONGLONG AddressOf(const void* address) { return reinterpret_cast<ULONG_PTR>(address); }

DWORD BytesOf(const std::vector<HMODULE>& list)
{
    return static_cast<DWORD>(list.size() * sizeof(HMODULE));
}

// Opens nothing but the file's metadata: named pipes, devices and other files that are not on a
// disk are never examined.
bool IsDiskFile(const wchar_t* path)
{
    const os::UniqueFile probe(os::Files().CreateFileW(path, 0, 0, OPEN_EXISTING, kProbeFlags));
    return probe && os::Files().GetFileType(probe.get()) == FILE_TYPE_DISK;
}

// The ImageBase in the file's PE headers (0 when it is no PE image); nothing when the file
// cannot be opened and mapped.
std::optional<ULONGLONG> ReadPreferredBase(const wchar_t* path)
{
    CImageFile image;
    if (!image.Open(path, true)) {
        return std::nullopt;
    }
    return image.IsPE32Plus() ? image.ReadImageBase64() : image.ReadImageBase32();
}

}  // namespace

std::vector<HMODULE> CProcessOpt::ReadModuleList() const
{
    HMODULE scratch = nullptr;
    DWORD needed = 0;
    if (os::Processes().EnumProcessModules(processHandle.get(), &scratch, 1, &needed) == FALSE) {
        return {};
    }
    std::vector<HMODULE> list;
    for (int read = 0; read < kModuleListReads && needed != BytesOf(list); ++read) {
        try {
            list.assign(needed / sizeof(HMODULE), nullptr);
        } catch (const std::bad_alloc&) {
            return {};
        }
        if (os::Processes().EnumProcessModules(processHandle.get(), list.data(), BytesOf(list),
                                               &needed) == FALSE) {
            return {};
        }
    }
    // Slots past what the last read filled name nothing.
    list.resize(std::min<std::size_t>(list.size(), needed / sizeof(HMODULE)));
    return list;
}

void CProcessOpt::WaitBeforeModule() const
{
    const HANDLE handles[] = {stopEvent.get()};
    if (WaitWithMessagePump(1, handles, moduleWaitMs_) == WAIT_OBJECT_0) {
        throw kStopEventName;
    }
}

void CProcessOpt::ExamineModule(HMODULE module)
{
    // A module that unloaded since the list was read has no information any more.
    MODULEINFO information{};
    if (os::Processes().GetModuleInformation(processHandle.get(), module, &information,
                                             sizeof information) == FALSE ||
        information.SizeOfImage == 0) {
        return;
    }
    PathBuffer path{};
    const DWORD length = QueryModuleFileName(processHandle.get(), module, path);
    if (length == 0 || length >= kImagePathCharacters || !IsDiskFile(path.data())) {
        return;
    }
    // A file that cannot be read has no preferred base of its own to compare.
    const std::optional<ULONGLONG> preferredBase = ReadPreferredBase(path.data());
    if (!preferredBase || *preferredBase == AddressOf(information.lpBaseOfDll)) {
        return;
    }
    auto record = std::make_unique<CModuleOpt>();
    record->processId = processId;
    record->loadBase = AddressOf(module);
    record->preferredBase = *preferredBase;
    // A path that stays unreachable is recorded as the process reported it.
    static_cast<void>(record->SetPath(path.data()));
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
    for (const HMODULE module : ReadModuleList()) {
        WaitBeforeModule();
        ExamineModule(module);
    }
    return ModuleRecords();
}

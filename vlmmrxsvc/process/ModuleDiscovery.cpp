// Module discovery: which modules of a process the loader did not place at the preferred base
// written in their files. The process's module list is read from its own memory, which the process
// can rewrite at will; the kernel says what is mapped where, and only that is examined.
#include "image/ImageFile.h"
#include "platform/EntryPoints.h"
#include "platform/Paths.h"
#include "platform/Waits.h"
#include "process/Impersonate.h"
#include "process/ProcessOpt.h"

#include <algorithm>
#include <optional>
#include <unordered_set>

namespace {

// Room for the kernel's name of a mapped file, which in device form is longer than the path.
constexpr DWORD kMappedNameCapacity = 1024;

const void* AddressOf(ULONGLONG address) { return reinterpret_cast<const void*>(address); }

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
        return ::ReadProcessMemory(process, AddressOf(address), into.data(), into.size(),
                                   &read) != FALSE &&
               read == into.size();
    });
}

bool IsImageStartingAt(HANDLE process, ULONGLONG base)
{
    MEMORY_BASIC_INFORMATION memory{};
    return ::VirtualQueryEx(process, AddressOf(base), &memory, sizeof memory) != 0 &&
           memory.Type == MEM_IMAGE && reinterpret_cast<ULONG_PTR>(memory.AllocationBase) == base;
}

std::optional<std::wstring> MappedFileName(HANDLE process, ULONGLONG address)
{
    std::wstring name(kMappedNameCapacity, L'\0');
    const DWORD length = ::GetMappedFileNameW(process, const_cast<void*>(AddressOf(address)),
                                              name.data(), kMappedNameCapacity);
    if (length == 0 || length >= kMappedNameCapacity - 1) {
        return std::nullopt;
    }
    name.resize(length);
    return name;
}

void CProcessOpt::WaitBeforeModule() const
{
    if (StopSignalledWithin(stopEvent.get(), context_.moduleWaitMs)) {
        throw kStopEventName;
    }
}

std::optional<FileIdentity> CProcessOpt::IdentityOf(const std::wstring& file, OpenAs access)
{
    std::optional<FileIdentity> identity;
    if (access == OpenAs::OwnerOnly) {
        static_cast<void>(RunAsOwner(processId, context_.log,
                                     [&] { identity = IdentityOfPath(file.c_str()); }));
        return identity;
    }
    const std::optional<FileStamp> stamp = StampOf(file.c_str());
    if (!stamp) {
        return std::nullopt;
    }
    identity = bases_.IdentityOf(file, *stamp);
    if (!identity) {
        identity = IdentityOfPath(file.c_str());
        if (identity) {
            bases_.RememberIdentity(file, *stamp, *identity);
        }
    }
    return identity;
}

bool CProcessOpt::NamesSameFile(const std::wstring& listed, const std::wstring& file,
                                OpenAs access)
{
    if (ClassifyForOpening(listed) == OpenablePath::Refused) {
        return false;
    }
    const std::optional<FileIdentity> mapped = IdentityOf(file, access);
    if (!mapped) {
        return false;
    }
    // The process's own text is opened only as its owner, whatever drive it names.
    const std::optional<FileIdentity> named = IdentityOf(listed, OpenAs::OwnerOnly);
    return named && mapped->SameFile(*named);
}

std::optional<CProcessOpt::Base> CProcessOpt::ReadPreferredBase(
    const std::wstring& file, const std::optional<FileStamp>& stamp)
{
    if (!image_.Open(file.c_str(), true)) {
        return std::nullopt;
    }
    // The same file may have been read under another of its names.
    const std::optional<FileIdentity> identity = stamp ? image_.Identity() : std::nullopt;
    std::optional<Base> base = identity ? bases_.BaseOf(*identity) : std::nullopt;
    if (!base) {
        const bool pe32Plus = image_.IsPE32Plus();
        base = Base{pe32Plus ? image_.ReadImageBase64() : image_.ReadImageBase32(), pe32Plus};
    }
    image_.Close();
    if (identity) {
        bases_.RememberIdentity(file, *stamp, *identity);
        bases_.RememberBase(*identity, *base);
    }
    return base;
}

std::optional<CProcessOpt::Base> CProcessOpt::PreferredBaseOf(const std::wstring& file,
                                                              OpenAs access)
{
    std::optional<Base> base;
    // A file on a share is read as the owner, each time: what another user's share holds is not
    // remembered for everyone.
    if (access == OpenAs::OwnerOnly) {
        static_cast<void>(RunAsOwner(processId, context_.log,
                                     [&] { base = ReadPreferredBase(file, std::nullopt); }));
        return base;
    }
    const std::optional<FileStamp> stamp = StampOf(file.c_str());
    if (!stamp) {
        return std::nullopt;
    }
    if (const std::optional<FileIdentity> identity = bases_.IdentityOf(file, *stamp)) {
        base = bases_.BaseOf(*identity);
    }
    return base ? base : ReadPreferredBase(file, stamp);
}

void CProcessOpt::ExamineModule(const LoadedModule& module)
{
    // A path of kImagePathCharacters or more, or one that could not be read, is left empty; one
    // that names a pipe is never recorded.
    if (module.path.empty() || NamesPipe(module.path)) {
        return;
    }
    const std::optional<std::wstring> mapped = MappedFileName(processHandle.get(), module.base);
    const std::optional<std::wstring> file = mapped ? drives_.OpenableFormOf(*mapped) : mapped;
    if (!file) {
        return;
    }
    // The listed path must name the file the kernel mapped: by its text, or else by identity.
    const OpenAs access = drives_.AccessFor(*file);
    const bool sameText = SamePathText(module.path, *file);
    if (access == OpenAs::Nobody || (!sameText && !NamesSameFile(module.path, *file, access))) {
        return;
    }
    const std::optional<Base> base = PreferredBaseOf(*file, access);
    const std::optional<std::uint64_t> preferredBase =
        RelocatedBase(module, base ? std::optional(base->preferredBase) : std::nullopt);
    if (!preferredBase) {
        return;
    }
    auto record = std::make_unique<CModuleOpt>(context_, this);
    record->processId = processId;
    record->loadBase = module.base;
    record->preferredBase = *preferredBase;
    // A path that stays unreachable is recorded as the process reported it. Where that text is not
    // the kernel's, only the owner reaches for it.
    static_cast<void>(
        record->SetPath(module.path.c_str(), sameText ? access : OpenAs::OwnerOnly));
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
    listed_ = ReadLoadedModules(processHandle.get());
    std::unordered_set<ULONGLONG> bases;
    for (const LoadedModule& module : listed_) {
        // One load base is one module, however often the list names it; an entry where no image
        // starts is no module, and costs no wait.
        if (bases.insert(module.base).second &&
            IsImageStartingAt(processHandle.get(), module.base)) {
            WaitBeforeModule();
            ExamineModule(module);
        }
    }
    return ModuleRecords();
}

std::wstring CProcessOpt::OccupantAt(HANDLE process, ULONGLONG address)
{
    MEMORY_BASIC_INFORMATION memory{};
    if (::VirtualQueryEx(process, AddressOf(address), &memory, sizeof memory) == 0) {
        return {};
    }
    auto base = reinterpret_cast<ULONG_PTR>(memory.AllocationBase);
    // A free region has no allocation base: the platform names the main executable then.
    if (base == 0 && !listed_.empty()) {
        base = listed_.front().base;
    }
    const std::optional<std::wstring> mapped = MappedFileName(process, base);
    if (!mapped) {
        return {};
    }
    const auto module = std::ranges::find(listed_, base, &LoadedModule::base);
    const std::optional<std::wstring> file = drives_.OpenableFormOf(*mapped);
    if (module != listed_.end() && file && SamePathText(module->path, *file)) {
        return module->path;
    }
    return *mapped;
}

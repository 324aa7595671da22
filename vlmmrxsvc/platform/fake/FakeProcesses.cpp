#include "platform/fake/FakeProcesses.h"

#include "platform/LoaderLayout.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace os::fake {
namespace {

constexpr DWORD kQueryAccess = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;
constexpr ULONGLONG kHighestUserAddress = 0x7FFFFFFEFFFF;
constexpr ULONGLONG kPageBytes = 0x1000;
constexpr DWORD kFileInvalid = 1006;  // ERROR_FILE_INVALID: nothing is mapped there

NTSTATUS WINAPI QueryThroughCurrentFake(ULONG infoClass, void* buffer, ULONG bytes,
                                        ULONG* returned)
{
    auto* processes = dynamic_cast<FakeProcesses*>(&os::Processes());
    if (processes == nullptr) {
        return FakeProcesses::kStatusInvalidInfoClass;
    }
    return processes->NtQuerySystemInformation(infoClass, buffer, bytes, returned);
}

NTSTATUS WINAPI QueryProcessThroughCurrentFake(HANDLE process, ULONG infoClass, void* info,
                                               ULONG bytes, ULONG* returned)
{
    auto* processes = dynamic_cast<FakeProcesses*>(&os::Processes());
    if (processes == nullptr) {
        return FakeProcesses::kStatusInvalidInfoClass;
    }
    return processes->NtQueryInformationProcess(process, infoClass, info, bytes, returned);
}

// The process's memory: its loader's data, one record per module and the records' names, each
// at an address of its own.
using Memory = std::map<ULONGLONG, std::vector<BYTE>>;

constexpr ULONGLONG kLdrAddress = FakeProcesses::kPebAddress + 0x1000;
constexpr ULONGLONG kRecordsAddress = FakeProcesses::kPebAddress + 0x2000;
constexpr ULONGLONG kRecordStride = 0x100;
constexpr ULONGLONG kNamesAddress = FakeProcesses::kPebAddress + 0x100000;
constexpr ULONGLONG kNameStride = 0x1000;

template <typename T>
void Put(std::vector<BYTE>& bytes, std::size_t offset, T value)
{
    std::memcpy(bytes.data() + offset, &value, sizeof value);
}

Memory LoaderMemory(const FakeProcess& process)
{
    Memory memory;
    std::vector<BYTE>& peb = memory[FakeProcesses::kPebAddress];
    peb.assign(kRecordStride, 0);
    Put<ULONGLONG>(peb, loader::kPebLdr, kLdrAddress);

    const std::size_t count = process.modules.size();
    const ULONGLONG head = kLdrAddress + loader::kLdrInLoadOrderList;
    const auto record = [&](std::size_t index) {
        return index < count ? kRecordsAddress + index * kRecordStride : head;
    };
    std::vector<BYTE>& ldr = memory[kLdrAddress];
    ldr.assign(kRecordStride, 0);
    Put<ULONGLONG>(ldr, loader::kLdrInLoadOrderList, record(0));
    Put<ULONGLONG>(ldr, loader::kLdrInLoadOrderList + sizeof(ULONGLONG),
                   count == 0 ? head : record(count - 1));
    for (std::size_t index = 0; index < count; ++index) {
        const FakeModule& module = process.modules[index];
        const ULONGLONG name = kNamesAddress + index * kNameStride;
        std::vector<BYTE>& entry = memory[record(index)];
        entry.assign(kRecordStride, 0);
        Put<ULONGLONG>(entry, loader::kEntryInLoadOrderLinks, record(index + 1));
        Put<ULONGLONG>(entry, loader::kEntryDllBase, module.base);
        Put<DWORD>(entry, loader::kEntrySizeOfImage, module.size);
        Put<WORD>(entry, loader::kEntryFullDllName,
                  static_cast<WORD>(module.path.size() * sizeof(wchar_t)));
        Put<ULONGLONG>(entry, loader::kEntryFullDllNameBuffer, name);
        if (process.unreadableNames.count(module.base) == 0) {
            const auto* text = reinterpret_cast<const BYTE*>(module.path.c_str());
            memory[name].assign(text, text + (module.path.size() + 1) * sizeof(wchar_t));
        }
    }
    return memory;
}

bool Contains(ULONGLONG base, ULONGLONG size, ULONGLONG address)
{
    return address >= base && address - base < size;
}

ULONGLONG AddressOf(const void* address) { return reinterpret_cast<ULONG_PTR>(address); }
void* PointerTo(ULONGLONG address) { return reinterpret_cast<void*>(address); }

}  // namespace

FakeProcesses::FakeProcesses(FakeHandleTable& handles, IErrors& errors)
    : handles_(handles), errors_(errors)
{
}

void FakeProcesses::Export(FakeKernel& kernel)
{
    kernel.AddExport(L"Ntdll", "NtQuerySystemInformation",
                     reinterpret_cast<FARPROC>(
                         reinterpret_cast<void (*)()>(&QueryThroughCurrentFake)));
    kernel.AddExport(L"Ntdll", "NtQueryInformationProcess",
                     reinterpret_cast<FARPROC>(
                         reinterpret_cast<void (*)()>(&QueryProcessThroughCurrentFake)));
}

NTSTATUS FakeProcesses::NtQuerySystemInformation(ULONG infoClass, void* buffer, ULONG bytes,
                                                 ULONG* returned)
{
    const std::lock_guard lock(mutex_);
    snapshotQuerySizes_.push_back(bytes);
    if (infoClass != kSystemProcessInformation) {
        return kStatusInvalidInfoClass;
    }
    if (snapshotStatus_ != 0) {
        return snapshotStatus_;
    }
    std::vector<const FakeProcess*> running;
    for (const auto& process : processes_) {
        if (!process->exited) {
            running.push_back(process.get());
        }
    }
    constexpr auto kRecordBytes = static_cast<ULONG>(sizeof(SYSTEM_PROCESS_INFORMATION));
    const ULONG needed =
        std::max(snapshotMinimumBytes_, static_cast<ULONG>(running.size()) * kRecordBytes);
    if (returned != nullptr) {
        *returned = needed;
    }
    if (bytes < needed || buffer == nullptr) {
        return kStatusInfoLengthMismatch;
    }
    auto* records = static_cast<SYSTEM_PROCESS_INFORMATION*>(buffer);
    std::memset(buffer, 0, running.size() * kRecordBytes);
    for (std::size_t index = 0; index < running.size(); ++index) {
        records[index].NextEntryOffset = index + 1 < running.size() ? kRecordBytes : 0;
        records[index].UniqueProcessId = PointerTo(running[index]->id);
    }
    return 0;
}

NTSTATUS FakeProcesses::NtQueryInformationProcess(HANDLE handle, ULONG infoClass, void* info,
                                                  ULONG bytes, ULONG* returned)
{
    constexpr NTSTATUS kInvalidHandle = static_cast<NTSTATUS>(0xC0000008);
    constexpr NTSTATUS kAccessDenied = static_cast<NTSTATUS>(0xC0000022);
    if (infoClass != loader::kProcessBasicInformation) {
        return kStatusInvalidInfoClass;
    }
    if (bytes < sizeof(PROCESS_BASIC_INFORMATION)) {
        return kStatusInfoLengthMismatch;
    }
    const auto opened = handles_.Lookup<FakeProcessHandle>(handle);
    if (opened == nullptr) {
        return kInvalidHandle;
    }
    if ((opened->access & PROCESS_QUERY_INFORMATION) == 0) {
        return kAccessDenied;
    }
    auto* basic = static_cast<PROCESS_BASIC_INFORMATION*>(info);
    *basic = PROCESS_BASIC_INFORMATION{};
    basic->PebBaseAddress = static_cast<decltype(basic->PebBaseAddress)>(PointerTo(kPebAddress));
    basic->UniqueProcessId = opened->process->id;
    if (returned != nullptr) {
        *returned = sizeof(PROCESS_BASIC_INFORMATION);
    }
    return 0;
}

BOOL FakeProcesses::ReadProcessMemory(HANDLE handle, const void* address, void* buffer,
                                      SIZE_T bytes, SIZE_T* read)
{
    if (read != nullptr) {
        *read = 0;
    }
    const std::lock_guard lock(mutex_);
    const auto process = Opened(handle, PROCESS_VM_READ);
    if (process == nullptr) {
        return FALSE;
    }
    if (process->moduleListFails) {
        errors_.SetLastError(ERROR_PARTIAL_COPY);
        return FALSE;
    }
    const Memory memory = LoaderMemory(*process);
    const ULONGLONG wanted = AddressOf(address);
    auto region = memory.upper_bound(wanted);
    if (region == memory.begin()) {
        errors_.SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    --region;
    const ULONGLONG offset = wanted - region->first;
    if (offset >= region->second.size() || bytes > region->second.size() - offset) {
        errors_.SetLastError(offset >= region->second.size() ? ERROR_NOACCESS : ERROR_PARTIAL_COPY);
        return FALSE;
    }
    std::memcpy(buffer, region->second.data() + offset, bytes);
    if (read != nullptr) {
        *read = bytes;
    }
    return TRUE;
}

std::shared_ptr<FakeProcess> FakeProcesses::Find(DWORD id) const
{
    for (const auto& process : processes_) {
        if (process->id == id && !process->exited) {
            return process;
        }
    }
    return nullptr;
}

std::shared_ptr<FakeProcess> FakeProcesses::Opened(HANDLE handle, DWORD access) const
{
    const auto opened = handles_.Lookup<FakeProcessHandle>(handle);
    if (opened == nullptr) {
        errors_.SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if ((opened->access & access) != access) {
        errors_.SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    if (opened->process->exited) {
        errors_.SetLastError(ERROR_PARTIAL_COPY);  // its memory is gone
        return nullptr;
    }
    return opened->process;
}

HANDLE FakeProcesses::OpenProcess(DWORD access, BOOL, DWORD processId)
{
    std::shared_ptr<FakeProcess> process;
    {
        const std::lock_guard lock(mutex_);
        process = Find(processId);
        if (process == nullptr) {
            errors_.SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        if (process->openError != ERROR_SUCCESS) {
            errors_.SetLastError(process->openError);
            return nullptr;
        }
        process->openAccesses.push_back(access);
    }
    return handles_.Insert(std::make_shared<FakeProcessHandle>(std::move(process), access));
}

DWORD FakeProcesses::CopyName(const std::wstring& text, wchar_t* name, DWORD capacity)
{
    if (capacity == 0) {
        errors_.SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (text.size() < capacity) {
        std::copy(text.begin(), text.end(), name);
        name[text.size()] = L'\0';
        return static_cast<DWORD>(text.size());
    }
    // Cut to the capacity, terminator included; the result tells that it was cut.
    std::copy_n(text.begin(), capacity - 1, name);
    name[capacity - 1] = L'\0';
    errors_.SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return capacity;
}

DWORD FakeProcesses::GetModuleFileNameExW(HANDLE handle, HMODULE module, wchar_t* name,
                                          DWORD capacity)
{
    const std::lock_guard lock(mutex_);
    const auto process = Opened(handle, kQueryAccess);
    if (process == nullptr) {
        return 0;
    }
    if (process->moduleListFails) {  // the name is read from the loader's records
        errors_.SetLastError(ERROR_PARTIAL_COPY);
        return 0;
    }
    if (module == nullptr) {
        return CopyName(process->imagePath, name, capacity);
    }
    for (const FakeModule& candidate : process->modules) {
        if (candidate.base == AddressOf(module)) {
            return CopyName(candidate.path, name, capacity);
        }
    }
    errors_.SetLastError(ERROR_INVALID_HANDLE);
    return 0;
}

DWORD FakeProcesses::GetMappedFileNameW(HANDLE handle, void* address, wchar_t* name,
                                        DWORD capacity)
{
    const std::lock_guard lock(mutex_);
    const auto process = Opened(handle, kQueryAccess);
    if (process == nullptr) {
        return 0;
    }
    for (const FakeMappedFile& file : process->mappedFiles) {
        if (Contains(file.base, file.size, AddressOf(address))) {
            return CopyName(file.devicePath, name, capacity);
        }
    }
    errors_.SetLastError(kFileInvalid);
    return 0;
}

SIZE_T FakeProcesses::VirtualQueryEx(HANDLE handle, const void* address,
                                     MEMORY_BASIC_INFORMATION* info, SIZE_T bytes)
{
    const std::lock_guard lock(mutex_);
    const auto process = Opened(handle, PROCESS_QUERY_INFORMATION);
    if (process == nullptr) {
        return 0;
    }
    const ULONGLONG wanted = AddressOf(address);
    if (process->memoryQueryFails || wanted > kHighestUserAddress ||
        bytes < sizeof(MEMORY_BASIC_INFORMATION)) {
        errors_.SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    *info = MEMORY_BASIC_INFORMATION{};
    const ULONGLONG page = wanted & ~(kPageBytes - 1);
    info->BaseAddress = PointerTo(page);
    const auto describe = [&](ULONGLONG base, ULONGLONG size, DWORD type) {
        info->AllocationBase = PointerTo(base);
        info->RegionSize = static_cast<SIZE_T>(base + size - page);
        info->State = MEM_COMMIT;
        info->Type = type;
    };
    for (const FakeModule& module : process->modules) {
        if (Contains(module.base, module.size, wanted)) {
            describe(module.base, module.size, MEM_IMAGE);
            return sizeof(MEMORY_BASIC_INFORMATION);
        }
    }
    for (const FakeMappedFile& file : process->mappedFiles) {
        if (Contains(file.base, file.size, wanted)) {
            describe(file.base, file.size, MEM_MAPPED);
            return sizeof(MEMORY_BASIC_INFORMATION);
        }
    }
    info->RegionSize = kPageBytes;
    info->State = MEM_FREE;
    return sizeof(MEMORY_BASIC_INFORMATION);
}

BOOL FakeProcesses::GetProcessMemoryInfo(HANDLE handle, PROCESS_MEMORY_COUNTERS* counters,
                                         DWORD bytes)
{
    const std::lock_guard lock(mutex_);
    const auto opened = handles_.Lookup<FakeProcessHandle>(handle);
    if (opened == nullptr || (opened->access & kQueryAccess) != kQueryAccess) {
        errors_.SetLastError(opened == nullptr ? ERROR_INVALID_HANDLE : ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (bytes < sizeof(PROCESS_MEMORY_COUNTERS)) {
        errors_.SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    *counters = PROCESS_MEMORY_COUNTERS{};
    counters->cb = sizeof(PROCESS_MEMORY_COUNTERS);
    counters->PagefileUsage = opened->process->exited ? 0 : opened->process->committedBytes;
    return TRUE;
}

void FakeProcesses::AddProcess(DWORD id, const std::wstring& imagePath, const std::wstring& user)
{
    auto process = std::make_shared<FakeProcess>();
    process->id = id;
    process->user = user;
    process->imagePath = imagePath;
    const std::lock_guard lock(mutex_);
    processes_.push_back(std::move(process));
}

void FakeProcesses::AddModule(DWORD id, const FakeModule& module)
{
    Update(id, [&](FakeProcess& process) { process.modules.push_back(module); });
}

void FakeProcesses::MapFile(DWORD id, const FakeMappedFile& file)
{
    Update(id, [&](FakeProcess& process) { process.mappedFiles.push_back(file); });
}

void FakeProcesses::SetCommittedBytes(DWORD id, SIZE_T bytes)
{
    Update(id, [&](FakeProcess& process) { process.committedBytes = bytes; });
}

void FakeProcesses::Exit(DWORD id)
{
    Update(id, [&](FakeProcess& process) { process.exited = true; });
}

void FakeProcesses::RefuseOpen(DWORD id, DWORD error)
{
    Update(id, [&](FakeProcess& process) { process.openError = error; });
}

void FakeProcesses::FailModuleList(DWORD id)
{
    Update(id, [&](FakeProcess& process) { process.moduleListFails = true; });
}

void FakeProcesses::FailModuleName(DWORD id, ULONGLONG base)
{
    Update(id, [&](FakeProcess& process) { process.unreadableNames.insert(base); });
}

void FakeProcesses::FailMemoryQuery(DWORD id)
{
    Update(id, [&](FakeProcess& process) { process.memoryQueryFails = true; });
}

void FakeProcesses::SetSnapshotMinimumBytes(ULONG bytes)
{
    const std::lock_guard lock(mutex_);
    snapshotMinimumBytes_ = bytes;
}

void FakeProcesses::FailSnapshot(NTSTATUS status)
{
    const std::lock_guard lock(mutex_);
    snapshotStatus_ = status;
}

std::vector<ULONG> FakeProcesses::SnapshotQuerySizes() const
{
    const std::lock_guard lock(mutex_);
    return snapshotQuerySizes_;
}

std::vector<DWORD> FakeProcesses::OpenAccesses(DWORD id) const
{
    const std::lock_guard lock(mutex_);
    for (const auto& process : processes_) {
        if (process->id == id) {
            return process->openAccesses;
        }
    }
    return {};
}

}  // namespace os::fake

// An in-memory process table for tests: processes with an image path and an owner, their module
// lists, files mapped into them, committed memory, processes that exit or refuse to be opened,
// and the native process snapshot, which fails for buffers below a size the test sets.
#pragma once

#include "platform/Platform.h"
#include "platform/fake/FakeKernel.h"

#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace os::fake {

inline constexpr const wchar_t* kFakeServiceUser = L"SYSTEM";

struct FakeModule {
    ULONGLONG base = 0;  // load address, which is also the module handle
    DWORD size = 0;      // SizeOfImage as the process reports it
    std::wstring path;
};

struct FakeMappedFile {
    ULONGLONG base = 0;
    ULONGLONG size = 0;
    std::wstring devicePath;  // as GetMappedFileNameW gives it
};

// One process. Its handles share it with the table, so that a handle outlives the exit of the
// process, as on Windows. Read and changed only under the table's lock; `id` and `user` never
// change once the process is in the table.
struct FakeProcess {
    DWORD id = 0;
    std::wstring user;
    std::wstring imagePath;
    std::vector<FakeModule> modules;  // in load order, the main executable first
    std::vector<FakeMappedFile> mappedFiles;
    SIZE_T committedBytes = 0;
    bool exited = false;
    DWORD openError = ERROR_SUCCESS;
    bool moduleListFails = false;
    bool memoryQueryFails = false;
    std::set<ULONGLONG> unreadableNames;  // of the modules at these bases
    std::vector<DWORD> openAccesses;
};

class FakeProcessHandle final : public FakeObject {
public:
    FakeProcessHandle(std::shared_ptr<FakeProcess> process, DWORD access)
        : process(std::move(process)), access(access)
    {
    }
    const std::shared_ptr<FakeProcess> process;
    const DWORD access;
};

class FakeProcesses final : public IProcesses {
public:
    static constexpr NTSTATUS kStatusInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004);
    static constexpr NTSTATUS kStatusInvalidInfoClass = static_cast<NTSTATUS>(0xC0000003);
    static constexpr ULONG kSystemProcessInformation = 5;
    static constexpr ULONGLONG kPebAddress = 0x7FFE00000000;  // where the loader's records lie

    FakeProcesses(FakeHandleTable& handles, IErrors& errors);

    HANDLE OpenProcess(DWORD access, BOOL inherit, DWORD processId) override;
    // The process's memory holds its loader's records (LoaderLayout.h) and nothing else.
    BOOL ReadProcessMemory(HANDLE process, const void* address, void* buffer, SIZE_T bytes,
                           SIZE_T* read) override;
    DWORD GetModuleFileNameExW(HANDLE process, HMODULE module, wchar_t* name,
                               DWORD capacity) override;
    DWORD GetMappedFileNameW(HANDLE process, void* address, wchar_t* name,
                             DWORD capacity) override;
    SIZE_T VirtualQueryEx(HANDLE process, const void* address, MEMORY_BASIC_INFORMATION* info,
                          SIZE_T bytes) override;
    BOOL GetProcessMemoryInfo(HANDLE process, PROCESS_MEMORY_COUNTERS* counters,
                              DWORD bytes) override;

    // Puts this fake's entry points, NtQuerySystemInformation and NtQueryInformationProcess, into
    // the fake kernel's "Ntdll". They answer through whichever FakeProcesses is current.
    static void Export(FakeKernel& kernel);

    // What the entry point NtQuerySystemInformation does.
    NTSTATUS NtQuerySystemInformation(ULONG infoClass, void* buffer, ULONG bytes,
                                      ULONG* returned);
    // What the entry point NtQueryInformationProcess does.
    NTSTATUS NtQueryInformationProcess(HANDLE process, ULONG infoClass, void* info, ULONG bytes,
                                       ULONG* returned);

    // Test controls. Processes appear in the snapshot in the order they were added.
    void AddProcess(DWORD id, const std::wstring& imagePath,
                    const std::wstring& user = kFakeServiceUser);
    // Appends to the process's module list.
    void AddModule(DWORD id, const FakeModule& module);
    void MapFile(DWORD id, const FakeMappedFile& file);
    void SetCommittedBytes(DWORD id, SIZE_T bytes);
    // Gone from the snapshot and no longer opened; handles still open answer as for an ended
    // process.
    void Exit(DWORD id);
    void RefuseOpen(DWORD id, DWORD error = ERROR_ACCESS_DENIED);
    // The process's memory cannot be read (it is starting or ending).
    void FailModuleList(DWORD id);
    // The name of the module at `base` cannot be read (it unloaded while its record was read).
    void FailModuleName(DWORD id, ULONGLONG base);
    void FailMemoryQuery(DWORD id);
    // Queries with a buffer below `bytes` fail with kStatusInfoLengthMismatch.
    void SetSnapshotMinimumBytes(ULONG bytes);
    // Every query answers `status` (until set back to 0).
    void FailSnapshot(NTSTATUS status);

    std::vector<ULONG> SnapshotQuerySizes() const;
    // The access asked for by every successful OpenProcess of `id`, in order.
    std::vector<DWORD> OpenAccesses(DWORD id) const;

private:
    std::shared_ptr<FakeProcess> Find(DWORD id) const;
    // Applies `change` to the running process `id`, if there is one, under the lock.
    template <typename Change>
    void Update(DWORD id, Change change)
    {
        const std::lock_guard lock(mutex_);
        if (const auto process = Find(id)) {
            change(*process);
        }
    }
    // The process of `handle` if the handle grants `access`; sets the last error otherwise.
    std::shared_ptr<FakeProcess> Opened(HANDLE handle, DWORD access) const;
    DWORD CopyName(const std::wstring& text, wchar_t* name, DWORD capacity);

    FakeHandleTable& handles_;
    IErrors& errors_;
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<FakeProcess>> processes_;
    ULONG snapshotMinimumBytes_ = 0;
    NTSTATUS snapshotStatus_ = 0;
    std::vector<ULONG> snapshotQuerySizes_;
};

}  // namespace os::fake

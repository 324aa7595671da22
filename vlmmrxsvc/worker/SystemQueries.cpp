#include "worker/SystemQueries.h"

#include "platform/EntryPoints.h"
#include "platform/UniqueResource.h"
#include "process/ProcessOpt.h"
#include "worker/Pacing.h"

#include <cstddef>
#include <new>

namespace {

constexpr ULONG kSystemProcessInformation = 5;
constexpr DWORD kSelectionAccess = SYNCHRONIZE | PROCESS_QUERY_INFORMATION |
                                   PROCESS_SET_INFORMATION | PROCESS_DUP_HANDLE | PROCESS_VM_READ;

static_assert(offsetof(SYSTEM_PROCESS_INFORMATION, NextEntryOffset) == kSnapshotNextEntryOffset);
static_assert(offsetof(SYSTEM_PROCESS_INFORMATION, UniqueProcessId) == kSnapshotProcessIdOffset);
static_assert(sizeof(MEMORYSTATUSEX) == 64);

bool IsWorthVisiting(std::uint32_t id, const LevelLookup& levelOf)
{
    const os::UniqueHandle process(::OpenProcess(kSelectionAccess, FALSE, id));
    if (!process) {
        return false;
    }
    PathBuffer path{};
    // The worker decides about a process whose path cannot be read when it visits it.
    return QueryModuleFileName(process.get(), nullptr, path) == 0 || levelOf(path.data()) != 0;
}

}  // namespace

double GetVirtualMemoryLoad()
{
    // Looked up once; a module named in EntryPoints.h stays loaded, so the entry stays valid.
    static const auto globalMemoryStatusEx =
        FindEntryPoint<decltype(&::GlobalMemoryStatusEx)>(kKernel32, "GlobalMemoryStatusEx");
    if (globalMemoryStatusEx == nullptr) {
        return 0.0;
    }
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    globalMemoryStatusEx(&status);  // a failure leaves the totals 0
    return CommittedLoadPercent(status.ullTotalPageFile, status.ullAvailPageFile);
}

SnapshotQuery SystemProcessQuery()
{
    const auto query =
        FindEntryPoint<decltype(&::NtQuerySystemInformation)>(kNtdll, "NtQuerySystemInformation");
    if (query == nullptr) {
        return {};
    }
    return [query](std::span<std::uint8_t> buffer) {
        ULONG returned = 0;
        return static_cast<std::int32_t>(
            query(static_cast<SYSTEM_INFORMATION_CLASS>(kSystemProcessInformation), buffer.data(),
                  static_cast<ULONG>(buffer.size()), &returned));
    };
}

std::vector<std::uint32_t> SelectProcesses(std::span<const std::uint8_t> snapshot,
                                           const LevelLookup& levelOf)
{
    std::vector<std::uint32_t> kept;
    for (const std::uint32_t id : SnapshotProcessIds(snapshot)) {
        if (IsWorthVisiting(id, levelOf)) {
            kept.push_back(id);
        }
    }
    return kept;
}

SnapshotResult TakeProcessSnapshot(ProcessSnapshot& snapshot, const SnapshotQuery& query,
                                   const LevelLookup& levelOf, std::vector<std::uint32_t>& kept)
{
    kept.clear();
    if (!query) {
        return SnapshotResult::Unavailable;
    }
    SnapshotResult result = snapshot.Take(query);
    if (result == SnapshotResult::Taken) {
        try {
            kept = SelectProcesses(snapshot.Records(), levelOf);
        } catch (const std::bad_alloc&) {
            result = SnapshotResult::NoMemory;
        }
    }
    snapshot.Release();
    return result;
}

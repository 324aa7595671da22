#include "worker/ProcessSnapshot.h"

#include "platform/UniqueResource.h"
#include "process/ProcessPaths.h"

#include <cstddef>
#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr ULONG kSystemProcessInformation = 5;
constexpr NTSTATUS kStatusSuccess = 0;
constexpr NTSTATUS kStatusInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004);
constexpr DWORD kSelectionAccess = SYNCHRONIZE | PROCESS_QUERY_INFORMATION |
                                   PROCESS_SET_INFORMATION | PROCESS_DUP_HANDLE | PROCESS_VM_READ;
constexpr std::size_t kIdentifierEnd =
    offsetof(SYSTEM_PROCESS_INFORMATION, UniqueProcessId) + sizeof(HANDLE);

// Calls `visit` with the process identifier of each record, in order.
template <typename Visit>
void ForEachRecord(std::span<const BYTE> snapshot, Visit visit)
{
    std::size_t offset = 0;
    while (snapshot.size() >= kIdentifierEnd && offset <= snapshot.size() - kIdentifierEnd) {
        const BYTE* record = snapshot.data() + offset;
        HANDLE id = nullptr;
        std::memcpy(&id, record + offsetof(SYSTEM_PROCESS_INFORMATION, UniqueProcessId),
                    sizeof id);
        visit(static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(id)));  // the low 32 bits
        ULONG next = 0;
        std::memcpy(&next, record + offsetof(SYSTEM_PROCESS_INFORMATION, NextEntryOffset),
                    sizeof next);
        if (next == 0) {
            return;
        }
        offset += next;
    }
}

bool IsWorthVisiting(DWORD id, const LevelLookup& levelOf)
{
    const os::UniqueHandle process(os::Processes().OpenProcess(kSelectionAccess, FALSE, id));
    if (!process) {
        return false;
    }
    PathBuffer path{};
    // The worker decides about a process whose path cannot be read when it visits it.
    return QueryModuleFileName(process.get(), nullptr, path) == 0 || levelOf(path.data()) != 0;
}

}  // namespace

NtQuerySystemInformationProc FindNtQuerySystemInformation()
{
    return FindEntryPoint<NtQuerySystemInformationProc>(kNtdll, "NtQuerySystemInformation");
}

std::size_t CountSnapshotRecords(std::span<const BYTE> snapshot)
{
    std::size_t count = 0;
    ForEachRecord(snapshot, [&](DWORD) { ++count; });
    return count;
}

int SelectProcesses(std::span<const BYTE> snapshot, std::span<DWORD> identifiers,
                    const LevelLookup& levelOf)
{
    std::size_t kept = 0;
    ForEachRecord(snapshot, [&](DWORD id) {
        if (kept < identifiers.size() && IsWorthVisiting(id, levelOf)) {
            identifiers[kept++] = id;
        }
    });
    return static_cast<int>(kept);
}

SnapshotResult ProcessSnapshot::Take(const LevelLookup& levelOf, std::vector<DWORD>& kept)
{
    kept.clear();
    if (query_ == nullptr) {
        return SnapshotResult::Unavailable;
    }
    std::unique_ptr<BYTE[]> buffer;
    for (;;) {
        buffer.reset(new (std::nothrow) BYTE[bufferBytes_]);
        if (buffer == nullptr) {
            return SnapshotResult::NoMemory;
        }
        ULONG returned = 0;
        const NTSTATUS status =
            query_(kSystemProcessInformation, buffer.get(), bufferBytes_, &returned);
        if (status == kStatusSuccess) {
            break;
        }
        // Growing helps only a buffer that was too small; any other failure would repeat.
        if (status != kStatusInfoLengthMismatch ||
            bufferBytes_ > kMaxSnapshotBytes - kSnapshotGrowthBytes) {
            return SnapshotResult::Unavailable;
        }
        bufferBytes_ += kSnapshotGrowthBytes;
    }
    const std::span<const BYTE> snapshot(buffer.get(), bufferBytes_);
    try {
        kept.resize(CountSnapshotRecords(snapshot));
    } catch (const std::bad_alloc&) {
        return SnapshotResult::NoMemory;
    }
    kept.resize(static_cast<std::size_t>(SelectProcesses(snapshot, kept, levelOf)));
    return SnapshotResult::Taken;
}

#include "image/RepairStore.h"

#include "platform/FileAccess.h"
#include "platform/FileAt.h"

#include <new>
#include <vector>

namespace {

constexpr std::uint8_t kTornRecordFill = 0xFF;
constexpr wchar_t kUnknownOccupant[] = L"?";

// Whether a path that a process gave (an occupant, or a text read back from a record) names an
// existing file. The service looks only on a drive it sees as local, under its own identity; a
// share's path is taken as it stands (there is no owner to act as here), and a path that the open
// gate refuses names nothing.
bool FileExists(DriveView& drives, const std::wstring& path)
{
    switch (drives.AccessFor(path)) {
    case OpenAs::ServiceFirst:
        return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    case OpenAs::OwnerOnly:
        return true;
    case OpenAs::Nobody:
        break;
    }
    return false;
}

}  // namespace

HANDLE OpenRepairFile(RepairStore& store, const std::wstring& path)
{
    if (store.IsOpen()) {
        return store.fileHandle.get();
    }
    if (path.empty()) {
        return nullptr;
    }
    os::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file || ::GetFileSizeEx(file.get(), &size) == FALSE) {
        return nullptr;
    }
    store.fileEnd = static_cast<std::uint64_t>(size.QuadPart);
    store.nextRecord = NextRecordOffset(store.fileEnd);
    store.fileHandle = std::move(file);
    store.path = path;
    return store.fileHandle.get();
}

AppendResult AppendRepairRecord(RepairStore& store, std::uint64_t pagefileUsage,
                                std::uint64_t loadBase, std::uint64_t preferredBase,
                                const wchar_t* componentPath, const wchar_t* processPath,
                                const wchar_t* occupantPath)
{
    DriveView drives;
    const wchar_t* occupant =
        occupantPath != nullptr && FileExists(drives, occupantPath) ? occupantPath
                                                                    : kUnknownOccupant;
    if (!EncodeRepairRecord(pagefileUsage, loadBase, preferredBase, componentPath, processPath,
                            occupant, store.buffer)) {
        return AppendResult::TextTooLong;
    }
    if (!store.IsOpen()) {
        return AppendResult::NoFile;
    }
    try {
        // The rest of a torn record, then the new one, in one write from the end of the file.
        std::vector<std::uint8_t> bytes(store.nextRecord - store.fileEnd, kTornRecordFill);
        bytes.insert(bytes.end(), store.buffer.begin(), store.buffer.end());
        if (!WriteFileAt(store.fileHandle.get(), store.fileEnd, bytes)) {
            // A write that reports success but wrote less ran out of room on the disk.
            const DWORD error = ::GetLastError();
            store.writeError = error != ERROR_SUCCESS ? error : ERROR_HANDLE_DISK_FULL;
            return AppendResult::WriteFailed;
        }
    } catch (const std::bad_alloc&) {
        store.writeError = ERROR_NOT_ENOUGH_MEMORY;
        return AppendResult::WriteFailed;
    }
    store.nextRecord += kRepairRecordBytes;
    store.fileEnd = store.nextRecord;
    return AppendResult::Appended;
}

int LoadRepairRecords(RepairStore& store, KnownComponents& known)
{
    if (!store.IsOpen()) {
        return 0;
    }
    const HANDLE file = store.fileHandle.get();
    DriveView drives;
    const PathExists exists = [&drives](const std::wstring& path) {
        return FileExists(drives, path);
    };
    int passed = 0;
    RepairRecord record;
    try {
        static_cast<void>(ReadRepairRecords(
            [file](std::uint64_t offset, std::span<std::uint8_t> into) {
                return ReadFileAt(file, offset, into);
            },
            [&](std::uint64_t, RepairRecordSpan bytes) {
                passed += DecodeRepairRecord(bytes, record) && known.Load(record, exists) ? 1 : 0;
            }));
    } catch (const std::bad_alloc&) {
        // The records loaded so far stay known.
    }
    return passed;
}

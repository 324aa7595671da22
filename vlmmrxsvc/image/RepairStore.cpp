#include "image/RepairStore.h"

#include "platform/Paths.h"
#include "settings/SettingsKey.h"

#include <algorithm>
#include <memory>
#include <new>
#include <vector>

namespace {

constexpr DWORD kConfiguredPathBytes = 520;
constexpr std::uint8_t kTornRecordFill = 0xFF;
constexpr wchar_t kUnknownOccupant[] = L"?";
// Records read per call while loading: about a mebibyte.
constexpr std::size_t kRecordsPerRead = 660;

OVERLAPPED At(std::uint64_t offset)
{
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(offset);
    position.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return position;
}

bool FileExists(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Writes all of `bytes` at `offset`; false when any of it did not reach the file.
bool WriteAt(HANDLE file, std::uint64_t offset, const std::vector<std::uint8_t>& bytes)
{
    OVERLAPPED position = At(offset);
    DWORD written = 0;
    return ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                       &position) != FALSE &&
           written == bytes.size();
}

// Reads up to `into.size()` bytes at `offset`; the count read, 0 at the end or on a failure.
std::size_t ReadAt(HANDLE file, std::uint64_t offset, std::span<std::uint8_t> into)
{
    OVERLAPPED position = At(offset);
    DWORD read = 0;
    if (::ReadFile(file, into.data(), static_cast<DWORD>(into.size()), &read, &position) ==
        FALSE) {
        return 0;
    }
    return read;
}

}  // namespace

std::wstring ConfiguredRepairFile()
{
    os::UniqueKey key;
    if (OpenSettingsKey(ServiceKeyPath(), kSettingsReadAccess, key) != ERROR_SUCCESS) {
        return {};
    }
    // The value's type is not looked at: its bytes are taken as text up to the first terminator.
    wchar_t configured[kConfiguredPathBytes / sizeof(wchar_t) + 1] = {};
    DWORD bytes = kConfiguredPathBytes;
    if (::RegQueryValueExW(key.get(), kRepairPendingFileValue, nullptr, nullptr,
                           reinterpret_cast<BYTE*>(configured), &bytes) != ERROR_SUCCESS) {
        return {};
    }
    return RepairFilePath(configured);
}

HANDLE OpenRepairFile(RepairStore& store)
{
    if (store.IsOpen()) {
        return store.fileHandle.get();
    }
    const std::wstring path = ConfiguredRepairFile();
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
    return store.fileHandle.get();
}

bool AppendRepairRecord(RepairStore& store, std::uint64_t pagefileUsage, std::uint64_t loadBase,
                        std::uint64_t preferredBase, const wchar_t* componentPath,
                        const wchar_t* processPath, const wchar_t* occupantPath)
{
    const wchar_t* occupant = FileExists(occupantPath) ? occupantPath : kUnknownOccupant;
    if (!EncodeRepairRecord(pagefileUsage, loadBase, preferredBase, componentPath, processPath,
                            occupant, store.buffer) ||
        !store.IsOpen()) {
        return false;
    }
    try {
        // The rest of a torn record, then the new one, in one write from the end of the file.
        std::vector<std::uint8_t> bytes(store.nextRecord - store.fileEnd, kTornRecordFill);
        bytes.insert(bytes.end(), store.buffer.begin(), store.buffer.end());
        if (!WriteAt(store.fileHandle.get(), store.fileEnd, bytes)) {
            return false;
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    store.nextRecord += kRepairRecordBytes;
    store.fileEnd = store.nextRecord;
    return true;
}

int LoadRepairRecords(RepairStore& store, KnownComponents& known)
{
    if (!store.IsOpen()) {
        return 0;
    }
    const std::unique_ptr<std::uint8_t[]> chunk(
        new (std::nothrow) std::uint8_t[kRecordsPerRead * kRepairRecordBytes]);
    if (chunk == nullptr) {
        return 0;
    }
    const std::uint64_t wholeRecords = store.fileEnd / kRepairRecordBytes * kRepairRecordBytes;
    int passed = 0;
    RepairRecord record;
    for (std::uint64_t offset = 0; offset < wholeRecords;) {
        const auto wanted = static_cast<std::size_t>(
            std::min<std::uint64_t>(wholeRecords - offset, kRecordsPerRead * kRepairRecordBytes));
        const std::size_t read = ReadAt(store.fileHandle.get(), offset, {chunk.get(), wanted});
        const std::size_t records = read / kRepairRecordBytes;
        for (std::size_t index = 0; index < records; ++index) {
            const RepairRecordSpan bytes(chunk.get() + index * kRepairRecordBytes,
                                         kRepairRecordBytes);
            if (DecodeRepairRecord(bytes, record) && known.Load(record, FileExists)) {
                ++passed;
            }
        }
        if (records == 0) {
            break;
        }
        offset += records * kRepairRecordBytes;
    }
    return passed;
}

// The repair-pending file as the worker holds it: opened once per run for reading and writing,
// shared with others for reading only, appended to in whole records, loaded into the
// known-component list.
#pragma once

#include "image/KnownComponents.h"
#include "image/RepairRecord.h"
#include "platform/UniqueResource.h"

#include <cstdint>
#include <string>

class RepairStore {
public:
    RepairStore() = default;
    RepairStore(const RepairStore&) = delete;
    RepairStore& operator=(const RepairStore&) = delete;

    [[nodiscard]] bool IsOpen() const { return static_cast<bool>(fileHandle); }
    // Where the next record goes: the first record boundary at or after the end of the file.
    [[nodiscard]] std::uint64_t NextRecordOffset() const { return nextRecord; }

    RepairRecordBytes buffer{};  // the record being appended
    os::UniqueFile fileHandle;   // the open repair-pending file; empty while not open
    std::wstring path;           // the open file's path; empty while not open
    DWORD writeError = ERROR_SUCCESS;  // the system's error of the last write that failed
    // The file's end as this store knows it (others may only read the file), and where the next
    // record goes. They differ only while the file ends inside a record.
    std::uint64_t fileEnd = 0;
    std::uint64_t nextRecord = 0;
};

// Opens or creates the file at `path` unless the store holds one: read and write access, read
// sharing only, so that while the service holds it others may read it and nobody else may write
// it. Returns the store's handle; null when there is no file (an empty `path`, or the file cannot
// be opened), with the system's last error.
HANDLE OpenRepairFile(RepairStore& store, const std::wstring& path);

// How an append ended.
enum class AppendResult {
    Appended,
    TextTooLong,  // a text has more than 260 characters: nothing written
    NoFile,       // the store has no file: nothing written
    WriteFailed,  // the write failed, with the system's error in the store's `writeError`
};

// Appends one record, written in one piece at the next record boundary; a file that ended inside
// a record first gets the rest of that record filled with 0xFF bytes (never a byte that was in the
// file changes, and the torn record's texts are left without terminators, so no reader takes it
// for whole). An occupant path that names no existing file is written as "?": the service looks
// only on a drive it sees as local; a share's path is written as it is, and one that the open
// gate refuses (ClassifyForOpening) as "?". After a failed write the next record is written at
// the same boundary over whatever part of this one reached the file.
AppendResult AppendRepairRecord(RepairStore& store, std::uint64_t pagefileUsage,
                                std::uint64_t loadBase, std::uint64_t preferredBase,
                                const wchar_t* componentPath, const wchar_t* processPath,
                                const wchar_t* occupantPath);

// Reads every whole record of the store's file from its start and adds those that pass the
// loading rules (KnownComponents::Load) to `known`, a file's existence asked as for an occupant
// (a share's path counts as existing, a refused one as missing); a record whose texts are not
// terminated within their fields (a torn write, garbage) is passed over, and so are the bytes
// after the last whole record. Returns the number of records that passed the rules; stops at the
// first read that fails, or when there is no memory for more. Nothing when the store has no file.
int LoadRepairRecords(RepairStore& store, KnownComponents& known);

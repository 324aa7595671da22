// What tells one file from another, and one state of a file from the next, as the file system
// reports them: the identity that a file has on its volume, and the stamp that a look at its
// attributes gives without opening it.
#pragma once

#include <cstdint>

// The volume's serial number and the file's index on that volume (GetFileInformationByHandle),
// with the time of the file's last write: one file in one state, whatever path names it.
struct FileIdentity {
    std::uint32_t volumeSerial = 0;
    std::uint64_t fileIndex = 0;
    std::uint64_t lastWrite = 0;

    // Whether both name the same file, whatever its state.
    [[nodiscard]] bool SameFile(const FileIdentity& other) const
    {
        return volumeSerial == other.volumeSerial && fileIndex == other.fileIndex;
    }
    bool operator==(const FileIdentity&) const = default;
};

// The creation and last-write times and the size of a file (GetFileAttributesExW): a file
// replaced or changed under the same path shows another stamp.
struct FileStamp {
    std::uint64_t creation = 0;
    std::uint64_t lastWrite = 0;
    std::uint64_t size = 0;

    bool operator==(const FileStamp&) const = default;
};

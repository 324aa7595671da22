// The repair-pending file as another program reads it while the service holds it.
#pragma once

#include "image/RepairRecord.h"
#include "platform/UniqueResource.h"

#include <string>
#include <vector>

namespace testing_support {

inline std::uint64_t FileSize(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    return (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

// The whole records of the file, from its start; `whole` is false when one of them does not
// decode (a torn or garbage record).
inline std::vector<RepairRecord> ReadRecords(const std::wstring& path, bool& whole)
{
    std::vector<RepairRecord> records;
    whole = true;
    const os::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
    RepairRecordBytes bytes{};
    DWORD read = 0;
    while (::ReadFile(file.get(), bytes.data(), bytes.size(), &read, nullptr) &&
           read == bytes.size()) {
        whole = DecodeRepairRecord(bytes, records.emplace_back()) && whole;
    }
    return records;
}

}  // namespace testing_support

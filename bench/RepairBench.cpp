// Loading the repair-pending file into the known-component list, under Wine: files of 10,000 and
// 100,000 component records naming distinct existing files (made beforehand by scripts/bench in
// the folder given), timed with LoadRepairRecords, then the memory the list holds per entry.
// For comparison, the cost of loading with a list scanned linearly, as a straightforward design
// keeps it (one 1590-byte record per entry), measured on the smaller file and on a tenth of it.
//   vlm_repair_bench.exe <folder of f000000.dll ...> <work folder>
#include "image/KnownComponents.h"
#include "image/RepairRecord.h"
#include "image/RepairStore.h"
#include "platform/Paths.h"
#include "platform/UniqueResource.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kSmall = 10000;
constexpr std::size_t kLarge = 100000;

std::wstring ComponentPath(const std::wstring& folder, std::size_t index)
{
    constexpr std::size_t kNameCapacity = 32;
    wchar_t name[kNameCapacity] = {};
    std::swprintf(name, kNameCapacity, L"\\f%06zu.dll", index);
    return folder + name;
}

// A repair-pending file of `count` component records, each naming its own existing file.
bool WriteFile(const std::wstring& path, const std::wstring& folder, std::size_t count)
{
    std::vector<std::uint8_t> bytes(count * kRepairRecordBytes);
    RepairRecordBytes record{};
    for (std::size_t index = 0; index < count; ++index) {
        const std::wstring component = ComponentPath(folder, index);
        if (!EncodeRepairRecord(0x200000, 0x7FF800000000 + index * 0x10000, 0x180000000,
                                component, L"C:\\windows\\system32\\services.exe", L"?",
                                record)) {
            return false;
        }
        std::copy(record.begin(), record.end(), bytes.begin() + index * kRepairRecordBytes);
    }
    const os::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file &&
           ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                       nullptr) &&
           written == bytes.size();
}

// The process's committed private bytes, as the service records them for the processes it visits.
std::size_t PrivateBytes()
{
    PROCESS_MEMORY_COUNTERS counters{};
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters);
    return counters.PagefileUsage;
}

struct Loaded {
    double seconds = 0;
    int passed = 0;
    std::size_t bytes = 0;  // private bytes the list added
};

// Loads `path` as the service does; the list is kept alive in `known` for the memory figure.
Loaded Load(const std::wstring& path, std::unique_ptr<KnownComponents>& known)
{
    RepairStore store;
    store.fileHandle.reset(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    ::GetFileSizeEx(store.fileHandle.get(), &size);
    store.fileEnd = static_cast<std::uint64_t>(size.QuadPart);
    known.reset();
    const std::size_t before = PrivateBytes();
    known = std::make_unique<KnownComponents>();
    const auto start = Clock::now();
    Loaded loaded;
    loaded.passed = LoadRepairRecords(store, *known);
    loaded.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    loaded.bytes = PrivateBytes() - before;
    return loaded;
}

// The straightforward list: whole records, every look-up a scan of the keys.
double LinearLoadSeconds(const std::wstring& folder, std::size_t count)
{
    struct Entry {
        std::wstring key;
        RepairRecordBytes record;
    };
    std::vector<Entry> list;
    const auto start = Clock::now();
    for (std::size_t index = 0; index < count; ++index) {
        std::wstring key = UpperCased(ComponentPath(folder, index));
        bool found = false;
        for (const Entry& entry : list) {
            found = found || entry.key == key;
        }
        if (!found && ::GetFileAttributesW(ComponentPath(folder, index).c_str()) !=
                          INVALID_FILE_ATTRIBUTES) {
            list.push_back({std::move(key), RepairRecordBytes{}});
        }
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) {
        std::fputs("usage: vlm_repair_bench.exe <folder of components> <work folder>\n", stderr);
        return 2;
    }
    const std::wstring folder = argv[1];
    const std::wstring small = std::wstring(argv[2]) + L"\\small64.dat";
    const std::wstring large = std::wstring(argv[2]) + L"\\large64.dat";
    if (!WriteFile(small, folder, kSmall) || !WriteFile(large, folder, kLarge)) {
        std::fputs("could not write the repair-pending files\n", stderr);
        return 1;
    }
    std::unique_ptr<KnownComponents> known;
    const Loaded first = Load(small, known);
    const Loaded second = Load(large, known);
    const double linearTenth = LinearLoadSeconds(folder, kSmall / 10);
    const double linearSmall = LinearLoadSeconds(folder, kSmall);
    std::printf("loaded_10k: %d records in %.3f s\n", first.passed, first.seconds);
    std::printf("loaded_100k: %d records in %.3f s\n", second.passed, second.seconds);
    std::printf("linear_scan_1k_seconds: %.3f\n", linearTenth);
    std::printf("linear_scan_10k_seconds: %.3f (about %.0f s at 100k, growing with the square)\n",
                linearSmall, linearSmall * 100.0);
    std::printf("load_seconds_100k: %.3f\n", second.seconds);
    std::printf("growth_10k_to_100k: %.2f\n", second.seconds / first.seconds);
    std::printf("bytes_per_entry: %.0f\n",
                static_cast<double>(second.bytes) / static_cast<double>(known->Count()));
    return first.passed == static_cast<int>(kSmall) && second.passed == static_cast<int>(kLarge)
               ? 0
               : 1;
}

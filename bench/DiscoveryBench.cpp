// Module discovery over the processes of a Wine prefix, against a bare program that makes the
// platform calls of the straightforward design (the module list through the process-status
// calls, which walk the remote list again for every answer, then the same file probe and header
// reads) in the same order with nothing around them. Discovery runs without its pacing waits.
// They take turns, several rounds each, over the same processes: the bare sequence, then
// discovery twice with one memory of preferred bases and drives, fresh for the round, as a
// worker's run keeps it: its first cycle, which reads every file, and a second, warm one. The CPU
// time of each turn is that of this process and of the Wine server, which does the work of most
// calls, read from the host's /proc through drive Z:.
//
//   vlm_discovery_bench.exe <host pid of the Wine server> [rounds]
//
// Prints the figures; the last two lines are "first_cycle_ratio: F" and "ratio: R", discovery's
// CPU per examined module over the bare sequence's, in a first and in a warm cycle.
#include "process/ProcessOpt.h"
#include "worker/SystemQueries.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int kDefaultRounds = 5;
constexpr DWORD kAllAccess = 0x001F0FFF;
constexpr DWORD kNameChars = 260;
constexpr DWORD kProbeFlags = SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr WORD kPe32PlusMagic = 0x20B;
constexpr LONG kMagicOffset = 24;

// utime + stime of a host process, in clock ticks, from /proc/<pid>/stat.
long long HostTicks(const std::wstring& pid)
{
    const std::wstring path = L"Z:\\proc\\" + pid + L"\\stat";
    const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, kShareAll, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return -1;
    }
    char text[1024] = {};
    DWORD read = 0;
    ::ReadFile(file, text, sizeof text - 1, &read, nullptr);
    ::CloseHandle(file);
    const std::string stat(text, read);
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    long long ticks = 0;
    for (int index = 3; fields >> field && index <= 15; ++index) {
        if (index >= 14) {  // utime, stime
            ticks += std::atoll(field.c_str());
        }
    }
    return ticks;
}

struct Cpu {
    std::wstring serverPid;
    long long Now() const { return HostTicks(L"self") + HostTicks(serverPid); }
};

// --- The bare sequence: the calls of opening a process and of its discovery, nothing else. ---

ULONGLONG BarePreferredBase(const wchar_t* name, bool& opened)
{
    opened = false;
    const HANDLE file = ::CreateFileW(name, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 0;
    }
    ULONGLONG base = 0;
    const HANDLE mapping = ::GetFileType(file) == FILE_TYPE_DISK
                               ? ::CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr)
                               : nullptr;
    const auto* view = mapping == nullptr ? nullptr
                                          : static_cast<const BYTE*>(
                                                ::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
    if (view != nullptr) {
        opened = true;
        IMAGE_DOS_HEADER dos{};
        DWORD read = 0;
        LONG lfanew = 0;
        std::memcpy(&lfanew, view + offsetof(IMAGE_DOS_HEADER, e_lfanew), sizeof lfanew);
        WORD magic = 0;
        std::memcpy(&magic, view + lfanew + kMagicOffset, sizeof magic);
        ::ReadFile(file, &dos, sizeof dos, &read, nullptr);
        ::SetFilePointer(file, dos.e_lfanew, nullptr, FILE_BEGIN);
        DWORD signature = 0;
        IMAGE_FILE_HEADER header{};
        ::ReadFile(file, &signature, sizeof signature, &read, nullptr);
        ::ReadFile(file, &header, sizeof header, &read, nullptr);
        if (magic == kPe32PlusMagic) {
            IMAGE_OPTIONAL_HEADER64 optional{};
            ::ReadFile(file, &optional, sizeof optional, &read, nullptr);
            base = optional.ImageBase;
        } else {
            IMAGE_OPTIONAL_HEADER32 optional{};
            ::ReadFile(file, &optional, sizeof optional, &read, nullptr);
            base = optional.ImageBase;
        }
        ::UnmapViewOfFile(view);
    }
    if (mapping != nullptr) {
        ::CloseHandle(mapping);
    }
    ::CloseHandle(file);
    return base;
}

void BareExamine(HANDLE process, HMODULE module)
{
    MSG message{};
    HANDLE noStopEvent = nullptr;
    if (::MsgWaitForMultipleObjects(1, &noStopEvent, FALSE, 0, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
        ::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE);
    }
    MODULEINFO information{};
    ::GetModuleInformation(process, module, &information, sizeof information);
    wchar_t name[kNameChars + 1] = L"<unknown>";
    ::GetModuleFileNameExW(process, module, name, kNameChars);
    name[kNameChars] = L'\0';
    const HANDLE probe =
        ::CreateFileW(name, 0, 0, nullptr, OPEN_EXISTING, kProbeFlags, nullptr);
    if (probe == INVALID_HANDLE_VALUE) {
        return;
    }
    const bool disk = ::GetFileType(probe) == FILE_TYPE_DISK;
    ::CloseHandle(probe);
    if (!disk) {
        return;
    }
    bool opened = false;
    const ULONGLONG base = BarePreferredBase(name, opened);
    if (opened && base != reinterpret_cast<ULONG_PTR>(information.lpBaseOfDll) &&
        information.SizeOfImage != 0) {
        ::GetFileAttributesW(name);  // the record's path
    }
}

// Returns the number of modules examined.
std::size_t BareDiscovery(DWORD id)
{
    const HANDLE process = ::OpenProcess(kAllAccess, FALSE, id);
    if (process == nullptr) {
        return 0;
    }
    wchar_t image[kNameChars + 1] = {};
    if (::GetModuleFileNameExW(process, nullptr, image, kNameChars) != 0) {
        ::GetFileAttributesW(image);
    }
    HMODULE scratch = nullptr;
    DWORD needed = 0;
    ::EnumProcessModules(process, &scratch, 1, &needed);
    std::vector<HMODULE> modules;
    while (needed != 0 && needed != modules.size() * sizeof(HMODULE)) {
        modules.assign(needed / sizeof(HMODULE), nullptr);
        ::EnumProcessModules(process, modules.data(),
                             static_cast<DWORD>(modules.size() * sizeof(HMODULE)), &needed);
    }
    for (const HMODULE module : modules) {
        BareExamine(process, module);
    }
    ::CloseHandle(process);
    return modules.size();
}

// --- Ours. ---

std::size_t Discovery(DWORD id, DiscoveryMemory& memory)
{
    // Unpaced: the benchmark measures the work, not the 100 ms waits between modules.
    static const DiscoveryContext unpaced{EventLog(), L"?", 0};
    CProcessOpt process(unpaced, &memory);
    if (process.Open(id)) {
        return process.EnumerateModules().size();
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        std::fputs("usage: vlm_discovery_bench.exe <host pid of the Wine server> [rounds]\n",
                   stderr);
        return 2;
    }
    const Cpu cpu{argv[1]};
    const int rounds = argc > 2 ? std::max(1, _wtoi(argv[2])) : kDefaultRounds;
    if (cpu.Now() < 0) {
        std::fputs("cannot read the CPU times from /proc\n", stderr);
        return 1;
    }
    ProcessSnapshot snapshot;
    std::vector<std::uint32_t> processes;
    if (TakeProcessSnapshot(snapshot, SystemProcessQuery(), [](std::wstring_view) { return 1u; },
                            processes) != SnapshotResult::Taken) {
        std::fputs("no process snapshot\n", stderr);
        return 1;
    }

    long long bareTicks = 0;
    long long firstTicks = 0;
    long long warmTicks = 0;
    std::size_t examined = 0;
    std::size_t relocated = 0;
    // Round -1 is not counted: it lets the prefix's own processes settle and fills Wine's caches,
    // whose costs would otherwise fall on whichever turn ran first.
    for (int round = -1; round < rounds; ++round) {
        const long long counted = round >= 0 ? 1 : 0;
        long long start = cpu.Now();
        std::size_t listed = 0;
        for (const DWORD id : processes) {
            listed += BareDiscovery(id);
        }
        examined += counted * listed;
        DiscoveryMemory memory;
        long long end = cpu.Now();
        bareTicks += counted * (end - start);
        for (long long* ticks : {&firstTicks, &warmTicks}) {
            start = end;
            for (const DWORD id : processes) {
                relocated += counted * Discovery(id, memory);
            }
            end = cpu.Now();
            *ticks += counted * (end - start);
        }
    }
    if (examined == 0 || bareTicks <= 0) {
        std::fputs("nothing was measured\n", stderr);
        return 1;
    }
    const double ticksPerSecond = 100.0;  // USER_HZ
    const auto perModuleUs = [&](long long ticks) {
        return ticks / ticksPerSecond * 1e6 / static_cast<double>(examined);
    };
    const auto ratio = [bareTicks](long long ticks) {
        return static_cast<double>(ticks) / static_cast<double>(bareTicks);
    };
    std::printf("processes: %zu, rounds: %d, modules examined: %zu, relocated found: %zu\n",
                processes.size(), rounds, examined, relocated);
    std::printf("bare sequence:          %.1f us CPU per examined module (%lld ticks)\n",
                perModuleUs(bareTicks), bareTicks);
    std::printf("discovery, first cycle: %.1f us CPU per examined module (%lld ticks)\n",
                perModuleUs(firstTicks), firstTicks);
    std::printf("discovery, warm cycle:  %.1f us CPU per examined module (%lld ticks)\n",
                perModuleUs(warmTicks), warmTicks);
    std::printf("first_cycle_ratio: %.2f\n", ratio(firstTicks));
    std::printf("ratio: %.2f\n", ratio(warmTicks));
    return 0;
}

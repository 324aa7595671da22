// The Windows side of the stress campaign (scripts/stress), one step per run, inside the
// campaign's Wine prefix: it installs and configures the service, starts victims that load many
// relocated libraries, starts and stops the service, and reads what the service recorded. Every
// measure is printed as a line "name: value".
//   vlm_stress.exe install <repair file setting>  register the service (-Service) and set it up
//   vlm_stress.exe configure <repair file setting> only the settings
//   vlm_stress.exe victims <folder> <first> <count> <libraries>
//       for each n in [first, first + count): the folder <folder>\v<n> with <libraries> copies of
//       the test library, and a victim loading them (vlm_stress_victim.exe), ready when it returns
//   vlm_stress.exe end-victims                  end every victim
//   vlm_stress.exe start | stop                  the service, waiting for RUNNING or STOPPED
//   vlm_stress.exe await <file> <folder> <s>    wait up to <s> seconds until every library of the
//                                                victims under <folder> is recorded in <file>
//   vlm_stress.exe check <file> <folder>        misaligned_records, duplicate_components,
//                                                missing_components, recorded_components: N/M
//   vlm_stress.exe startstop <cycles>           start_stop_cycles, longest_stop_ms, handle_growth
//   vlm_stress.exe memory                       private_bytes: the service's private memory
#include "image/RepairRecord.h"
#include "platform/Paths.h"
#include "platform/UniqueResource.h"

#include <tlhelp32.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr const wchar_t* kServiceName = L"Velmora 64-bit Virtual Memory Optimization";
constexpr const wchar_t* kSettingsKey = L"SOFTWARE\\Velmora\\MRX";
constexpr const wchar_t* kVictimName = L"vlm_stress_victim.exe";
constexpr auto kStateTimeout = 20s;
constexpr auto kPoll = 10ms;
// After a start, the window in which the service's handles are counted.
constexpr auto kCountFrom = 1500ms;
constexpr auto kCountUntil = 4500ms;
constexpr auto kCountEvery = 20ms;
constexpr int kLongestRandomWaitMs = 2000;

std::wstring Beside(const wchar_t* name)
{
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    return folder.substr(0, folder.find_last_of(L'\\') + 1) + name;
}

bool Fail(const char* what)
{
    std::fprintf(stderr, "vlm_stress: %s (error %lu)\n", what, ::GetLastError());
    return false;
}

bool Run(std::wstring commandLine)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          nullptr, &startup, &info)) {
        return Fail("a program could not be started");
    }
    const os::UniqueHandle process(info.hProcess);
    const os::UniqueHandle thread(info.hThread);
    DWORD exitCode = 1;
    ::WaitForSingleObject(process.get(), INFINITE);
    ::GetExitCodeProcess(process.get(), &exitCode);
    return exitCode == 0;
}

bool Configure(const std::wstring& repairFileSetting)
{
    os::UniqueKey settings;
    os::UniqueKey processes;
    const auto number = [](HKEY key, const wchar_t* name, DWORD value) {
        return ::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                sizeof value) == ERROR_SUCCESS;
    };
    const auto bytes = static_cast<DWORD>((repairFileSetting.size() + 1) * sizeof(wchar_t));
    return ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0,
                             KEY_WRITE | KEY_WOW64_32KEY, nullptr, settings.put(),
                             nullptr) == ERROR_SUCCESS &&
           ::RegCreateKeyExW(settings.get(), L"ProcessExclusionList", 0, nullptr, 0,
                             KEY_WRITE | KEY_WOW64_32KEY, nullptr, processes.put(),
                             nullptr) == ERROR_SUCCESS &&
           number(settings.get(), L"MainLoopWait", 1000) &&
           number(settings.get(), L"DefaultProcessOptimizationLevel", 0) &&
           number(processes.get(), kVictimName, 1) &&
           ::RegSetValueExW(settings.get(), L"RepairPendingFile", 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(repairFileSetting.c_str()),
                            bytes) == ERROR_SUCCESS;
}

std::wstring VictimFolder(const std::wstring& folder, unsigned index)
{
    wchar_t name[16] = {};
    std::swprintf(name, 16, L"\\v%04u", index);
    return folder + name;
}

// Starts a victim in `folder` with its output into a pipe; the pipe, empty on failure.
os::UniqueHandle StartVictim(const std::wstring& folder)
{
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    os::UniqueHandle reader;
    os::UniqueHandle writer;
    if (!::CreatePipe(reader.put(), writer.put(), &inheritable, 0)) {
        return {};
    }
    ::SetHandleInformation(reader.get(), HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = writer.get();
    // Only the pipe is inherited: a victim holding this program's own output would keep the
    // reader of that output waiting for its end as long as the victim lives.
    for (const DWORD standard : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        ::SetHandleInformation(::GetStdHandle(standard), HANDLE_FLAG_INHERIT, 0);
    }
    PROCESS_INFORMATION info{};
    std::wstring commandLine = L"\"" + Beside(kVictimName) + L"\" \"" + folder + L"\"";
    // Detached: the victims outlive this program and its console.
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, DETACHED_PROCESS,
                          nullptr, nullptr, &startup, &info)) {
        return {};
    }
    ::CloseHandle(info.hProcess);
    ::CloseHandle(info.hThread);
    return reader;
}

// Creates `folder` and every folder above it that is missing.
void CreateFolders(const std::wstring& folder)
{
    for (std::size_t end = folder.find(L'\\', 3); end != std::wstring::npos;
         end = folder.find(L'\\', end + 1)) {
        ::CreateDirectoryW(folder.substr(0, end).c_str(), nullptr);
    }
    ::CreateDirectoryW(folder.c_str(), nullptr);
}

bool StartVictims(const std::wstring& folder, unsigned first, unsigned count, unsigned libraries)
{
    const std::wstring library = Beside(L"vlm_victim_second.dll");
    std::vector<os::UniqueHandle> outputs;
    for (unsigned index = first; index < first + count; ++index) {
        const std::wstring victimFolder = VictimFolder(folder, index);
        CreateFolders(victimFolder);
        for (unsigned copy = 0; copy < libraries; ++copy) {
            const std::wstring name = victimFolder + L"\\c" + std::to_wstring(copy) + L".dll";
            if (!::CopyFileW(library.c_str(), name.c_str(), FALSE)) {
                return Fail("a library could not be copied");
            }
        }
        outputs.push_back(StartVictim(victimFolder));
        if (!outputs.back()) {
            return Fail("a victim could not be started");
        }
    }
    for (const os::UniqueHandle& output : outputs) {
        char line[16] = {};
        DWORD read = 0;
        if (!::ReadFile(output.get(), line, sizeof line - 1, &read, nullptr) ||
            std::string(line).rfind("ready", 0) != 0) {
            return Fail("a victim did not load its libraries");
        }
    }
    return true;
}

bool EndVictims()
{
    const os::UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
         more = ::Process32NextW(snapshot.get(), &entry)) {
        if (::lstrcmpiW(entry.szExeFile, kVictimName) == 0) {
            const os::UniqueHandle victim(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE,
                                                        entry.th32ProcessID));
            ::TerminateProcess(victim.get(), 0);
            ::WaitForSingleObject(victim.get(), 5000);
        }
    }
    return true;
}

os::UniqueServiceHandle OpenService()
{
    const os::UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, GENERIC_READ));
    return os::UniqueServiceHandle(::OpenServiceW(manager.get(), kServiceName, SERVICE_ALL_ACCESS));
}

SERVICE_STATUS_PROCESS Status(SC_HANDLE service)
{
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    ::QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                           sizeof status, &needed);
    return status;
}

bool WaitForState(SC_HANDLE service, DWORD state, DWORD notProcess = 0)
{
    for (const auto deadline = Clock::now() + kStateTimeout; Clock::now() < deadline;) {
        const SERVICE_STATUS_PROCESS status = Status(service);
        if (status.dwCurrentState == state &&
            (notProcess == 0 || status.dwProcessId != notProcess)) {
            return true;
        }
        std::this_thread::sleep_for(kPoll);
    }
    return false;
}

// Under Wine a service whose process was killed still shows RUNNING, with the dead process's id;
// a start succeeds all the same, and the new process shows an id of its own.
bool Start(SC_HANDLE service)
{
    const DWORD before = Status(service).dwProcessId;
    return (::StartServiceW(service, 0, nullptr) || Fail("the service did not start")) &&
           (WaitForState(service, SERVICE_RUNNING, before) || Fail("the service is not running"));
}

// How long the stop took, in milliseconds; negative when it did not end in time.
long long Stop(SC_HANDLE service)
{
    SERVICE_STATUS status{};
    const auto asked = Clock::now();
    if (!::ControlService(service, SERVICE_CONTROL_STOP, &status)) {
        return Fail("the service refused the stop"), -1;
    }
    if (!WaitForState(service, SERVICE_STOPPED)) {
        return Fail("the service did not stop"), -1;
    }
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - asked).count();
}

// The number of handles process `id` holds, from the system's handle table
// (SystemExtendedHandleInformation; Wine's GetProcessHandleCount answers 0).
long long HandleCount(DWORD id)
{
    struct Entry {
        void* object;
        ULONG_PTR processId;
        ULONG_PTR handle;
        ULONG access;
        USHORT backTrace;
        USHORT type;
        ULONG attributes;
        ULONG reserved;
    };
    struct Table {
        ULONG_PTR count;
        ULONG_PTR reserved;
        Entry entries[1];
    };
    constexpr auto kExtendedHandleInformation = static_cast<SYSTEM_INFORMATION_CLASS>(64);
    constexpr NTSTATUS kLengthMismatch = static_cast<NTSTATUS>(0xC0000004L);
    std::vector<unsigned char> buffer(1 << 20);
    ULONG needed = 0;
    NTSTATUS status = kLengthMismatch;
    while ((status = ::NtQuerySystemInformation(kExtendedHandleInformation, buffer.data(),
                                                static_cast<ULONG>(buffer.size()), &needed)) ==
           kLengthMismatch) {
        buffer.resize(buffer.size() * 2);
    }
    if (status != 0) {
        return -1;
    }
    const auto& table = *reinterpret_cast<const Table*>(buffer.data());
    return std::count_if(table.entries, table.entries + table.count,
                         [id](const Entry& entry) { return entry.processId == id; });
}

// The number of handles the running service held most often in the counting window after its
// start: the worker holds a process's handles while it visits the process and a file's while it
// reads the file's headers, so single counts vary with the moment; the most frequent does not.
long long SteadyHandleCount(SC_HANDLE service)
{
    const DWORD id = Status(service).dwProcessId;
    std::this_thread::sleep_for(kCountFrom);
    std::map<long long, int> seen;
    for (auto waited = kCountFrom; waited < kCountUntil; waited += kCountEvery) {
        ++seen[HandleCount(id)];
        std::this_thread::sleep_for(kCountEvery);
    }
    return std::max_element(seen.begin(), seen.end(), [](const auto& one, const auto& other) {
               return one.second < other.second;
           })->first;
}

// `cycles` starts and stops, each stop at a random moment of up to 2 s after RUNNING, then one
// more start after the last stop; the handles are counted after the first start and that one.
bool StartStop(SC_HANDLE service, unsigned cycles)
{
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> waitMs(0, kLongestRandomWaitMs);
    long long longest = 0;
    long long first = 0;
    long long last = 0;
    for (unsigned cycle = 0; cycle <= cycles; ++cycle) {
        if (!Start(service)) {
            return false;
        }
        if (cycle == 0 || cycle == cycles) {
            (cycle == 0 ? first : last) = SteadyHandleCount(service);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(waitMs(random)));
        }
        const long long stopMs = Stop(service);
        if (stopMs < 0) {
            return false;
        }
        longest = std::max(longest, stopMs);
    }
    std::printf("start_stop_cycles: %u\nlongest_stop_ms: %lld\nhandle_growth: %lld\n", cycles,
                longest, std::max(0LL, last - first));
    std::fprintf(stderr, "vlm_stress: handles after the first start %lld, after the last %lld\n",
                 first, last);
    return first > 0 && last > 0;
}

// The service's committed private bytes as GetProcessMemoryInfo gives them: PagefileUsage, the
// process's commit charge (Windows gives the same as PrivateUsage, which Wine leaves at 0).
bool PrintPrivateBytes(SC_HANDLE service)
{
    const os::UniqueHandle process(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ,
                                                 FALSE, Status(service).dwProcessId));
    PROCESS_MEMORY_COUNTERS counters{};
    if (!::GetProcessMemoryInfo(process.get(), &counters, sizeof counters)) {
        return Fail("the service's memory could not be read");
    }
    std::printf("private_bytes: %llu\n", static_cast<unsigned long long>(counters.PagefileUsage));
    return true;
}

// The upper-cased paths of every library of the victims under `folder`.
std::set<std::wstring> VictimLibraries(const std::wstring& folder)
{
    std::set<std::wstring> libraries;
    WIN32_FIND_DATAW victim{};
    const HANDLE victims = ::FindFirstFileW((folder + L"\\v*").c_str(), &victim);
    for (BOOL more = victims != INVALID_HANDLE_VALUE; more;
         more = ::FindNextFileW(victims, &victim)) {
        const std::wstring victimFolder = folder + L"\\" + victim.cFileName;
        WIN32_FIND_DATAW library{};
        const HANDLE found = ::FindFirstFileW((victimFolder + L"\\*.dll").c_str(), &library);
        for (BOOL next = found != INVALID_HANDLE_VALUE; next;
             next = ::FindNextFileW(found, &library)) {
            libraries.insert(UpperCased(victimFolder + L"\\" + library.cFileName));
        }
        ::FindClose(found);
    }
    ::FindClose(victims);
    return libraries;
}

struct FileCheck {
    std::size_t misaligned = 0;  // slots that do not decode whole, and a partial record at the end
    std::size_t duplicates = 0;  // components recorded more than once
    std::size_t missing = 0;     // the victims' libraries not recorded
    std::size_t expected = 0;
};

FileCheck CheckFile(const std::wstring& file, const std::wstring& folder)
{
    FileCheck check;
    std::map<std::wstring, std::size_t> recorded;
    const os::UniqueFile reader(::CreateFileW(file.c_str(), GENERIC_READ,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_EXISTING, 0, nullptr));
    RepairRecordBytes bytes{};
    DWORD read = 0;
    while (::ReadFile(reader.get(), bytes.data(), bytes.size(), &read, nullptr) && read > 0) {
        RepairRecord record;
        if (read != bytes.size() || !DecodeRepairRecord(bytes, record)) {
            ++check.misaligned;
        } else if (!record.IsProcessRecord() && ++recorded[UpperCased(record.componentPath)] == 2) {
            ++check.duplicates;
        }
    }
    const std::set<std::wstring> libraries = VictimLibraries(folder);
    check.expected = libraries.size();
    check.missing = static_cast<std::size_t>(std::count_if(
        libraries.begin(), libraries.end(),
        [&recorded](const std::wstring& library) { return recorded.count(library) == 0; }));
    return check;
}

bool Await(const std::wstring& file, const std::wstring& folder, unsigned seconds)
{
    for (const auto deadline = Clock::now() + std::chrono::seconds(seconds);
         Clock::now() < deadline; std::this_thread::sleep_for(1s)) {
        if (CheckFile(file, folder).missing == 0) {
            return true;
        }
    }
    return Fail("not every library was recorded in time");
}

bool PrintCheck(const std::wstring& file, const std::wstring& folder)
{
    const FileCheck check = CheckFile(file, folder);
    std::printf("misaligned_records: %zu\nduplicate_components: %zu\nmissing_components: %zu\n"
                "recorded_components: %zu/%zu\n",
                check.misaligned, check.duplicates, check.missing,
                check.expected - check.missing, check.expected);
    return true;
}

unsigned Number(const wchar_t* text) { return static_cast<unsigned>(std::wcstoul(text, nullptr, 10)); }

bool Step(int argc, wchar_t** argv)
{
    const std::wstring step = argc > 1 ? argv[1] : L"";
    if (step == L"install" && argc == 3) {
        return Run(L"\"" + Beside(L"vlmmrxsvc.exe") + L"\" -Service") && Configure(argv[2]);
    }
    if (step == L"configure" && argc == 3) {
        return Configure(argv[2]);
    }
    if (step == L"victims" && argc == 6) {
        return StartVictims(argv[2], Number(argv[3]), Number(argv[4]), Number(argv[5]));
    }
    if (step == L"end-victims") {
        return EndVictims();
    }
    if (step == L"await" && argc == 5) {
        return Await(argv[2], argv[3], Number(argv[4]));
    }
    if (step == L"check" && argc == 4) {
        return PrintCheck(argv[2], argv[3]);
    }
    const os::UniqueServiceHandle service = OpenService();
    if (!service) {
        return Fail("the service is not installed");
    }
    if (step == L"start") {
        return Start(service.get());
    }
    if (step == L"stop") {
        return Stop(service.get()) >= 0;
    }
    if (step == L"startstop" && argc == 3) {
        return StartStop(service.get(), Number(argv[2]));
    }
    if (step == L"memory") {
        return PrintPrivateBytes(service.get());
    }
    std::fputs("vlm_stress: see the usage at the top of stress/StressDriver.cpp\n", stderr);
    return false;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const bool done = Step(argc, argv);
    std::fflush(stdout);
    return done ? 0 : 1;
}

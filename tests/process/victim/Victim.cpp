// A process for discovery to examine: it loads two libraries built with the same preferred base
// (the loader relocates the second) and, when asked, first maps a data file at that base (the
// loader then relocates both). It writes one line to its standard output,
//   pid=<decimal> first=<hex> second=<hex> mapped=<hex>
// and lives until it is ended, or for kLifetimeMs from its start: so that it never lingers, and
// so that a reader waiting for a report that never comes is released when it ends.
//   vlm_victim.exe                 the two libraries
//   vlm_victim.exe map <data file>  the data file mapped at the libraries' preferred base first
//   vlm_victim.exe many             the two libraries and many of the system's, for a long scan
//   vlm_victim.exe forge <pipe> loop|flood  the two libraries, then a module list that lies (Forge)
#include "Beside.h"
#include "process/LoaderRecords.h"

#include <windows.h>
#include <winternl.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr ULONG_PTR kLibraryBase = 0x180000000;
constexpr DWORD kLifetimeMs = 60000;
constexpr const wchar_t* kSystemLibraries[] = {
    L"comctl32.dll", L"comdlg32.dll", L"crypt32.dll", L"dbghelp.dll", L"gdi32.dll",
    L"imm32.dll",    L"ole32.dll",    L"oleaut32.dll", L"rpcrt4.dll", L"setupapi.dll",
    L"shell32.dll",  L"shlwapi.dll",  L"urlmon.dll",   L"version.dll", L"wininet.dll",
    L"winmm.dll",    L"ws2_32.dll",   L"msi.dll",      L"mpr.dll",     L"netapi32.dll"};

void* MapAtLibraryBase(const wchar_t* dataFile)
{
    const HANDLE file = ::CreateFileW(dataFile, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    const HANDLE mapping = ::CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    void* view = mapping == nullptr ? nullptr
                                    : ::MapViewOfFileEx(mapping, FILE_MAP_READ, 0, 0, 0,
                                                        reinterpret_cast<void*>(kLibraryBase));
    if (mapping != nullptr) {
        ::CloseHandle(mapping);  // the view keeps the mapping
    }
    ::CloseHandle(file);
    return view;
}

// An entry appended to the process's own module list, laid out as the loader lays out its own
// (the offsets that discovery reads), with the text of its name after it.
struct ForgedEntry {
    BYTE record[loader::kEntryBytes];
    wchar_t name[MAX_PATH];
};

template <typename T>
T& At(void* record, std::size_t offset)
{
    return *reinterpret_cast<T*>(static_cast<BYTE*>(record) + offset);
}

// The list names the second library by its short name, and goes on with: the service's
// executable at a private allocation; the pipe <pipe> in three spellings, each at an image view of
// the first library that no entry lists; the service's executable at the second library's base;
// then entries that each claim the service's executable where nothing is mapped: with `loop` 500,
// the last of which links to itself, otherwise 16,000.
void Forge(HMODULE second, const std::wstring& pipe, bool loop)
{
    PROCESS_BASIC_INFORMATION basic{};
    ::NtQueryInformationProcess(::GetCurrentProcess(), ProcessBasicInformation, &basic,
                                sizeof basic, nullptr);
    auto* const head = &At<LIST_ENTRY>(At<void*>(basic.PebBaseAddress, loader::kPebLdr),
                                       loader::kLdrInLoadOrderList);
    static wchar_t shortName[MAX_PATH];
    ::GetShortPathNameW(Beside(L"vlm_victim_second.dll").c_str(), shortName, MAX_PATH);
    for (LIST_ENTRY* entry = head->Flink; entry != head; entry = entry->Flink) {
        if (At<HMODULE>(entry, loader::kEntryDllBase) == second) {
            ::RtlInitUnicodeString(&At<UNICODE_STRING>(entry, loader::kEntryFullDllName),
                                   shortName);
        }
    }
    const auto imageView = [] {
        const HANDLE file = ::CreateFileW(Beside(L"vlm_victim_first.dll").c_str(), GENERIC_READ,
                                          FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        const HANDLE image =
            ::CreateFileMappingW(file, nullptr, PAGE_READONLY | SEC_IMAGE, 0, 0, nullptr);
        return reinterpret_cast<ULONG_PTR>(::MapViewOfFile(image, FILE_MAP_READ, 0, 0, 0));
    };
    const std::wstring service = Beside(L"vlmmrxsvc.exe");
    const auto nothing = reinterpret_cast<ULONG_PTR>(
        ::VirtualAlloc(nullptr, 0x1000000, MEM_COMMIT, PAGE_READWRITE));
    std::vector<std::pair<ULONG_PTR, std::wstring>> claims = {
        {nothing, service},
        {imageView(), L"//./pipe/" + pipe},
        {imageView(), L"\\\\.\\PIPE/" + pipe},
        {imageView(), L"\\\\.\\GLOBALROOT\\Device\\NamedPipe\\" + pipe},
        {reinterpret_cast<ULONG_PTR>(second), service}};
    for (std::size_t index = 1; index <= (loop ? 500 : 16000); ++index) {
        claims.emplace_back(nothing + index * 0x100, service);
    }
    auto* forged = static_cast<ForgedEntry*>(::VirtualAlloc(
        nullptr, sizeof(ForgedEntry) * claims.size(), MEM_COMMIT, PAGE_READWRITE));
    for (std::size_t index = 0; index < claims.size(); ++index) {
        auto* links = &At<LIST_ENTRY>(forged[index].record, loader::kEntryInLoadOrderLinks);
        links->Flink = loop ? links : head;
        links->Blink = head->Blink;
        head->Blink->Flink = links;
        head->Blink = links;
        At<ULONG_PTR>(links, loader::kEntryDllBase) = claims[index].first;
        At<DWORD>(links, loader::kEntrySizeOfImage) = 0x10000;
        claims[index].second.copy(forged[index].name, MAX_PATH - 1);
        ::RtlInitUnicodeString(&At<UNICODE_STRING>(links, loader::kEntryFullDllName),
                               forged[index].name);
    }
}

DWORD WINAPI EndLater(void*)
{
    ::Sleep(kLifetimeMs);
    ::ExitProcess(3);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const HANDLE watchdog = ::CreateThread(nullptr, 0, EndLater, nullptr, 0, nullptr);
    if (watchdog == nullptr) {
        return 4;
    }
    ::CloseHandle(watchdog);
    void* mapped = nullptr;
    if (argc == 3 && std::wcscmp(argv[1], L"map") == 0) {
        mapped = MapAtLibraryBase(argv[2]);
        if (mapped == nullptr) {
            return 2;
        }
    }
    if (argc == 2 && std::wcscmp(argv[1], L"many") == 0) {
        for (const wchar_t* library : kSystemLibraries) {
            ::LoadLibraryW(library);
        }
    }
    const HMODULE first = ::LoadLibraryW(Beside(L"vlm_victim_first.dll").c_str());
    const HMODULE second = ::LoadLibraryW(Beside(L"vlm_victim_second.dll").c_str());
    if (first == nullptr || second == nullptr) {
        return 1;
    }
    if (argc == 4 && std::wcscmp(argv[1], L"forge") == 0) {
        Forge(second, argv[2], std::wcscmp(argv[3], L"loop") == 0);
    }
    std::printf("pid=%lu first=%llx second=%llx mapped=%llx\n", ::GetCurrentProcessId(),
                static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(first)),
                static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(second)),
                static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(mapped)));
    std::fflush(stdout);
    ::Sleep(INFINITE);
    return 0;
}

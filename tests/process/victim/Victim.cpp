// A process for discovery to examine: it loads two libraries built with the same preferred base
// (the loader relocates the second) and, when asked, first maps a data file at that base (the
// loader then relocates both). It writes one line to its standard output,
//   pid=<decimal> first=<hex> second=<hex> mapped=<hex>
// and lives until it is ended, or for kLifetimeMs from its start: so that it never lingers, and
// so that a reader waiting for a report that never comes is released when it ends.
//   vlm_victim.exe                 the two libraries
//   vlm_victim.exe map <data file>  the data file mapped at the libraries' preferred base first
//   vlm_victim.exe many             the two libraries and many of the system's, for a long scan
#include "Beside.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

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
    std::printf("pid=%lu first=%llx second=%llx mapped=%llx\n", ::GetCurrentProcessId(),
                static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(first)),
                static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(second)),
                static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(mapped)));
    std::fflush(stdout);
    ::Sleep(INFINITE);
    return 0;
}

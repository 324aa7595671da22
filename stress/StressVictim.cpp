// A process for the stress campaign: it keeps the preferred base of the test library free of any
// module (a reservation of its own sits there), loads every DLL in the folder it is given, each a
// copy of that library under a name of its own, so that the loader relocates every one, writes
// "ready" to its standard output and lives until it is ended.
//   vlm_stress_victim.exe <folder>
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

constexpr ULONG_PTR kLibraryBase = 0x180000000;
constexpr SIZE_T kReservedBytes = 0x10000;

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2 || ::VirtualAlloc(reinterpret_cast<void*>(kLibraryBase), kReservedBytes,
                                    MEM_RESERVE, PAGE_NOACCESS) == nullptr) {
        return 1;
    }
    const std::wstring folder = argv[1];
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW((folder + L"\\*.dll").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return 2;
    }
    do {
        if (::LoadLibraryW((folder + L"\\" + found.cFileName).c_str()) == nullptr) {
            return 3;
        }
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    std::puts("ready");
    std::fflush(stdout);
    ::Sleep(INFINITE);
    return 0;
}

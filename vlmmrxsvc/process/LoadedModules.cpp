#include "process/LoadedModules.h"

#include "image/ImageFile.h"
#include "platform/EntryPoints.h"
#include "platform/LoaderLayout.h"
#include "platform/Platform.h"

#include <array>
#include <cstring>
#include <new>

namespace {

// A list being rewritten while it is read could lead in a circle; no process has this many.
constexpr std::size_t kMaxModules = 16384;

const void* PointerTo(ULONGLONG address) { return reinterpret_cast<const void*>(address); }

bool Read(HANDLE process, ULONGLONG address, void* buffer, SIZE_T bytes)
{
    SIZE_T read = 0;
    return os::Processes().ReadProcessMemory(process, PointerTo(address), buffer, bytes, &read) !=
               FALSE &&
           read == bytes;
}

template <typename T>
T Field(const std::array<BYTE, loader::kEntryBytes>& record, std::size_t offset)
{
    T value{};
    std::memcpy(&value, record.data() + offset, sizeof value);
    return value;
}

// The address of the loader's load-order list head; 0 when the process has none to read.
ULONGLONG FindListHead(HANDLE process)
{
    const auto query =
        FindEntryPoint<NtQueryInformationProcessProc>(kNtdll, "NtQueryInformationProcess");
    PROCESS_BASIC_INFORMATION basic{};
    ULONG returned = 0;
    if (query == nullptr ||
        query(process, loader::kProcessBasicInformation, &basic, sizeof basic, &returned) != 0) {
        return 0;
    }
    ULONGLONG ldr = 0;
    const auto peb = reinterpret_cast<ULONG_PTR>(basic.PebBaseAddress);
    if (!Read(process, peb + loader::kPebLdr, &ldr, sizeof ldr) || ldr == 0) {
        return 0;  // a process that is starting has no loader data yet
    }
    return ldr + loader::kLdrInLoadOrderList;
}

std::wstring ReadName(HANDLE process, const std::array<BYTE, loader::kEntryBytes>& record)
{
    const auto bytes = Field<WORD>(record, loader::kEntryFullDllName);
    const std::size_t characters = bytes / sizeof(wchar_t);
    if (characters >= kImagePathCharacters) {
        return {};
    }
    std::array<wchar_t, kImagePathCharacters> name{};
    if (!Read(process, Field<ULONGLONG>(record, loader::kEntryFullDllNameBuffer), name.data(),
              characters * sizeof(wchar_t))) {
        return {};
    }
    return std::wstring(name.data(), characters);
}

}  // namespace

std::vector<LoadedModule> ReadLoadedModules(HANDLE process)
{
    std::vector<LoadedModule> modules;
    const ULONGLONG head = FindListHead(process);
    ULONGLONG link = 0;
    if (head == 0 || !Read(process, head, &link, sizeof link)) {
        return modules;
    }
    std::array<BYTE, loader::kEntryBytes> record{};
    try {
        while (link != head && link != 0 && modules.size() < kMaxModules &&
               Read(process, link - loader::kEntryInLoadOrderLinks, record.data(), record.size())) {
            modules.push_back({Field<ULONGLONG>(record, loader::kEntryDllBase),
                               Field<DWORD>(record, loader::kEntrySizeOfImage),
                               ReadName(process, record)});
            link = Field<ULONGLONG>(record, loader::kEntryInLoadOrderLinks);
        }
    } catch (const std::bad_alloc&) {
        // The modules read so far are examined.
    }
    return modules;
}

// The record of one relocated module of a process, made by module discovery
// (CProcessOpt::EnumerateModules) and owned by the process record.
#pragma once

#include "platform/EventLog.h"
#include "platform/Windows.h"

#include <string>

// Capacity, in characters, of a converted module or occupant path.
inline constexpr DWORD kModuleUniversalNameCapacity = 520;
// How long discovery waits on the stop event before each module, which paces it.
inline constexpr DWORD kModuleWaitMs = 100;

// What the service hands the examination of its processes.
struct DiscoveryContext {
    EventLog log;                   // where failures to act as a process's owner are reported
    std::wstring unknownName = L"?";  // the name of an occupant that nothing answers for
    // The wait before each module; only a benchmark of discovery asks for less.
    DWORD moduleWaitMs = kModuleWaitMs;
};

class CModuleOpt {
public:
    // `context` must outlive the record.
    explicit CModuleOpt(const DiscoveryContext& context) : context_(context) {}
    CModuleOpt(const CModuleOpt&) = delete;
    CModuleOpt& operator=(const CModuleOpt&) = delete;

    // Stores `path` (null counts as empty). A path the service cannot reach under its own
    // identity is rewritten, while acting as the owner of `processId`, into its share's universal
    // name, unless it begins with a backslash. False only when the path was unreachable and the
    // owner could not be impersonated; the path is then stored as given.
    [[nodiscard]] bool SetPath(const wchar_t* path);
    [[nodiscard]] std::wstring GetPath() const { return path; }
    // The name of the module or mapped file that occupies `preferredBase` in `process` (opened
    // with query-information and memory-read rights), or the context's unknown name ("?") when
    // nothing answers. A mapped
    // file keeps its device-form name. Cached: later calls return the cached text without asking
    // the platform again. When the owner of the process had to be impersonated for the conversion
    // and could not be, the first call returns "?" and the unconverted name is what is cached.
    [[nodiscard]] std::wstring GetOccupantName(HANDLE process);

    ULONGLONG preferredBase = 0;  // ImageBase from the module's file; 0 when not a PE image
    ULONGLONG loadBase = 0;       // where the module is loaded, also its module handle
    DWORD processId = 0;

private:
    // The name of the module or mapped file whose allocation contains `preferredBase`; empty
    // when nothing answers.
    static std::wstring QueryOccupant(HANDLE process, ULONGLONG address);

    const DiscoveryContext& context_;
    std::wstring occupantName;
    std::wstring path;
};

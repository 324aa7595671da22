// The record of one relocated module of a process, made by module discovery
// (CProcessOpt::EnumerateModules) and owned by the process record.
#pragma once

#include "platform/EventLog.h"
#include "platform/FileAccess.h"
#include "platform/Windows.h"

#include <string>

class CProcessOpt;

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
    // `context` must outlive the record, and so must `process`, the record of the process in which
    // discovery found the module: it knows the process's modules, and so names the occupant.
    explicit CModuleOpt(const DiscoveryContext& context, CProcessOpt* process = nullptr)
        : context_(context), process_(process)
    {
    }
    CModuleOpt(const CModuleOpt&) = delete;
    CModuleOpt& operator=(const CModuleOpt&) = delete;

    // Stores `path` (null counts as empty). A path the service cannot reach is rewritten, while
    // acting as the owner of `processId`, into its share's universal name, unless it begins with a
    // backslash. `access` says whether the service may first try to reach it under its own
    // identity (ServiceFirst) or not at all (a share, a network drive, a path the gate refuses or
    // that is not the kernel's own name of the file). False only when the path was not reached and
    // the owner could not be impersonated; the path is then stored as given.
    [[nodiscard]] bool SetPath(const wchar_t* path, OpenAs access);
    // As above, with the access that the path's text and the drives give (DriveView::AccessFor).
    [[nodiscard]] bool SetPath(const wchar_t* path);
    [[nodiscard]] std::wstring GetPath() const { return path; }
    // The name of what occupies `preferredBase` in `process` (opened with query-information and
    // memory-read rights), as the process record tells it (CProcessOpt::OccupantAt), or the
    // context's unknown name ("?") when nothing answers or the module has no process record. A
    // mapped file keeps its device-form name. Cached: later calls return the cached text without
    // asking the platform again. When the owner of the process had to be impersonated for the
    // conversion and could not be, the first call returns "?" and the unconverted name is what is
    // cached.
    [[nodiscard]] std::wstring GetOccupantName(HANDLE process);

    ULONGLONG preferredBase = 0;  // ImageBase from the module's file; 0 when not a PE image
    ULONGLONG loadBase = 0;       // where the module is loaded, also its module handle
    DWORD processId = 0;

private:
    const DiscoveryContext& context_;
    CProcessOpt* process_;
    std::wstring occupantName;
    std::wstring path;
};

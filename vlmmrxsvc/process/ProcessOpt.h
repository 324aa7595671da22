// The record of one process while the worker examines it: its handle, its executable's path,
// the service's stop event, and the records of its relocated modules; and paths as the
// process-status calls report them.
#pragma once

#include "image/ImageFile.h"
#include "platform/Paths.h"
#include "platform/UniqueResource.h"
#include "process/LoaderRecords.h"
#include "process/ModuleOpt.h"

#include <array>
#include <memory>
#include <string>
#include <vector>

using PathBuffer = std::array<wchar_t, kImagePathCharacters + 1>;

// GetModuleFileNameExW of `module` (null: the process's main executable) into `buffer`, which
// always ends with a terminator afterwards. It is asked with room for the whole buffer, so that a
// name of kImagePathCharacters characters or more gives a result of at least
// kImagePathCharacters whatever the platform's rule for cutting names. The call's result: 0 on
// failure.
DWORD QueryModuleFileName(HANDLE process, HMODULE module, PathBuffer& buffer);

// Whether `path` is reachable under the identity the thread acts as.
[[nodiscard]] bool IsReachable(const wchar_t* path);

// Whether `path` is a device or universal path (it begins with a backslash): as reachable as it
// gets, never converted.
[[nodiscard]] bool IsDevicePath(const std::wstring& path);

// Capacity, in characters, of a converted executable path.
inline constexpr DWORD kProcessUniversalNameCapacity = 522;

// The process's modules in load order (ReadLoaderList), read from its memory: the list that the
// process-status calls give, read once where those calls walk it again for every answer.
// `process` needs query-information and memory-read rights. Empty when the process's memory
// cannot be read (it is starting or has ended).
[[nodiscard]] std::vector<LoadedModule> ReadLoadedModules(HANDLE process);

class CProcessOpt {
public:
    // Opens the record's own handle to the stop event; without the event the record is built all
    // the same, and discovery then neither paces itself nor can be stopped. `context` (the event
    // log, the unknown-name text, the pacing) must outlive the record and its module records.
    explicit CProcessOpt(const DiscoveryContext& context);
    // Closes the process handle, destroys every module record, closes the stop event.
    ~CProcessOpt();
    CProcessOpt(const CProcessOpt&) = delete;
    CProcessOpt& operator=(const CProcessOpt&) = delete;

    // Opens process `id` with full access and reads its executable's path into `name`. False,
    // without a handle, when the process has exited or may not be opened. On an opened record it
    // only repeats the name lookup and returns true.
    [[nodiscard]] bool Open(DWORD id);
    // The executable's path, read on first use (in universal form when the service cannot reach
    // it under its own identity). False, with `output` untouched, when there is no handle or the
    // path cannot be read; `name` then stays empty and a later call asks again.
    bool GetName(std::wstring& output);
    // Rewrites `path`, while acting as the owner of the process, into its share's universal name
    // when it lies on a drive that the owner mapped to a share; otherwise leaves it as it was.
    void ResolveUniversalName(std::wstring& path) const;
    // Module discovery: appends a record for each module of the process that is not loaded at the
    // preferred base of its file, in the order of the process's module list, and returns the
    // records (not owned; valid while this record lives). Waits on the stop event before each
    // module; when the event is signalled it throws the stop event's name (a pointer to the
    // constant text "MRXThreadEvent") before examining that module, and the records appended so
    // far stay owned here. Never reports an error otherwise: a module that cannot be examined is
    // passed over.
    std::vector<CModuleOpt*> EnumerateModules();
    // The bytes of private memory the process has committed; 0 without a handle or when the
    // query fails.
    [[nodiscard]] ULONGLONG GetPagefileUsage() const;

    os::UniqueHandle processHandle;
    std::wstring name;
    DWORD processId = 0;
    std::vector<std::unique_ptr<CModuleOpt>> modules;
    os::UniqueHandle stopEvent;

private:
    // Throws the stop text when the stop event is signalled during the wait.
    void WaitBeforeModule() const;
    void ExamineModule(const LoadedModule& module);
    std::vector<CModuleOpt*> ModuleRecords() const;

    const DiscoveryContext& context_;
    // The file of the module being examined, opened and closed for each module. Held here rather
    // than on discovery's stack so that a run abandoned at a fault (reading a mapped file that
    // shrank) still releases it with the record.
    CImageFile image_;
};

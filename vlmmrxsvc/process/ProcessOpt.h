// The record of one process while the worker examines it: its handle, its executable's path,
// the service's stop event, and the records of its relocated modules; and paths as the
// process-status calls report them.
#pragma once

#include "image/ImageFile.h"
#include "platform/FileAccess.h"
#include "platform/Paths.h"
#include "platform/UniqueResource.h"
#include "process/ImageBaseCache.h"
#include "process/LoaderRecords.h"
#include "process/ModuleOpt.h"

#include <array>
#include <memory>
#include <optional>
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

// Whether `path` is a device or universal path (it begins with a backslash): never converted.
[[nodiscard]] bool IsDevicePath(const std::wstring& path);

// Capacity, in characters, of a converted executable path.
inline constexpr DWORD kProcessUniversalNameCapacity = 522;

// The process's modules in load order (ReadLoaderList), read from its memory: the list that the
// process-status calls give, read once where those calls walk it again for every answer.
// `process` needs query-information and memory-read rights. Empty when the process's memory
// cannot be read (it is starting or has ended).
[[nodiscard]] std::vector<LoadedModule> ReadLoadedModules(HANDLE process);

// Whether the kernel maps an image whose allocation starts at `base` in `process`: what a module
// is, whatever the process's own list says.
[[nodiscard]] bool IsImageStartingAt(HANDLE process, ULONGLONG base);

// The kernel's name of the file mapped at `address` in `process`, in device form
// (GetMappedFileNameW); nothing for memory that maps no file, or a name too long to be whole.
[[nodiscard]] std::optional<std::wstring> MappedFileName(HANDLE process, ULONGLONG address);

// What discovery keeps for a worker's run, across processes and cycles: the preferred bases of the
// files it read, and the drives as the service sees them.
struct DiscoveryMemory {
    ImageBaseCache bases;
    DriveView drives;
};

class CProcessOpt {
public:
    // Opens the record's own handle to the stop event; without the event the record is built all
    // the same, and discovery then neither paces itself nor can be stopped. `context` (the event
    // log, the unknown-name text, the pacing) must outlive the record and its module records, and
    // so must `memory`, what the worker's run keeps (without it the record keeps its own, for this
    // process alone).
    explicit CProcessOpt(const DiscoveryContext& context, DiscoveryMemory* memory = nullptr);
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
    // records (not owned; valid while this record lives). The list is the process's own word, so
    // a module is only what the kernel maps: an entry counts when an image starts at its load base
    // (no other entry with that base counts again) and its path names the file the kernel mapped
    // there, by text or else by file identity; the preferred base is read from that file. Waits on
    // the stop event before each such module (never for the other entries); when the event is
    // signalled it throws the stop event's name (a pointer to the constant text "MRXThreadEvent")
    // before examining that module, and the records appended so far stay owned here. Never
    // reports an error otherwise: a module that cannot be examined is passed over. Every path is
    // opened only as its access allows (DriveView::AccessFor): the process's own text, where it
    // is not the kernel's, only as the process's owner.
    std::vector<CModuleOpt*> EnumerateModules();
    // The name of what occupies `address` in `process` (this record's process, opened with
    // query-information and memory-read rights), after discovery read the module list: the listed
    // path of the module whose allocation holds it (the main executable for a free region) when it
    // names the file the kernel mapped there, else the kernel's own name of the mapped file in
    // device form; empty when nothing answers.
    [[nodiscard]] std::wstring OccupantAt(HANDLE process, ULONGLONG address);
    // The drives as the service sees them, as the run (or this record) keeps them.
    [[nodiscard]] DriveView& Drives() { return drives_; }
    // The bytes of private memory the process has committed; 0 without a handle or when the
    // query fails.
    [[nodiscard]] ULONGLONG GetPagefileUsage() const;

    os::UniqueHandle processHandle;
    std::wstring name;
    DWORD processId = 0;
    std::vector<std::unique_ptr<CModuleOpt>> modules;
    os::UniqueHandle stopEvent;

private:
    using Base = ImageBaseCache::Base;

    // Throws the stop text when the stop event is signalled during the wait.
    void WaitBeforeModule() const;
    void ExamineModule(const LoadedModule& module);
    std::vector<CModuleOpt*> ModuleRecords() const;
    // Whether `listed`, a path that is not the text of `file` (the kernel's name of the module's
    // file, opened as `access` allows), names the same file: `listed` is opened as the owner.
    [[nodiscard]] bool NamesSameFile(const std::wstring& listed, const std::wstring& file,
                                     OpenAs access);
    [[nodiscard]] std::optional<FileIdentity> IdentityOf(const std::wstring& file, OpenAs access);
    // The preferred base of `file`: from the run's memory while the file is unchanged, otherwise
    // read from its headers (and remembered, for a file on a local drive).
    [[nodiscard]] std::optional<Base> PreferredBaseOf(const std::wstring& file, OpenAs access);
    [[nodiscard]] std::optional<Base> ReadPreferredBase(const std::wstring& file,
                                                        const std::optional<FileStamp>& stamp);

    const DiscoveryContext& context_;
    std::unique_ptr<DiscoveryMemory> ownMemory_;  // when no run hands the record its own
    ImageBaseCache& bases_;
    DriveView& drives_;
    std::vector<LoadedModule> listed_;  // the module list as discovery read it
    // The file of the module being examined, opened and closed for each module. Held here rather
    // than on discovery's stack so that a run abandoned at a fault (reading a mapped file that
    // shrank) still releases it with the record.
    CImageFile image_;
};

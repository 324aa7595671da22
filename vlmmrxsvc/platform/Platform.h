// The platform seam: thin interfaces over the Windows calls that the service's logic makes.
//
// Each method converts and forwards to the Windows call of the same name, with the same meaning of
// arguments, results and last error; it decides nothing. The Windows implementation is in win/, an
// in-memory one for tests in fake/. The logic reaches the current implementation through the
// accessors at the bottom; production code never installs anything and gets the Windows one.
#pragma once

#include "platform/WinTypes.h"

namespace os {

class IErrors {
public:
    virtual ~IErrors() = default;
    virtual DWORD GetLastError() = 0;
    virtual void SetLastError(DWORD error) = 0;
};

// Kernel objects, waits and the calling thread's message queue.
class IKernel {
public:
    virtual ~IKernel() = default;
    virtual BOOL CloseHandle(HANDLE handle) = 0;
    // Unnamed when `name` is null. Null on failure.
    virtual HANDLE CreateEventW(BOOL manualReset, BOOL initialState, const wchar_t* name) = 0;
    // Null on failure (for instance ERROR_FILE_NOT_FOUND when no event has that name).
    virtual HANDLE OpenEventW(DWORD access, BOOL inherit, const wchar_t* name) = 0;
    virtual BOOL SetEvent(HANDLE event) = 0;
    virtual BOOL ResetEvent(HANDLE event) = 0;
    virtual DWORD WaitForSingleObject(HANDLE handle, DWORD timeoutMs) = 0;
    // Waits for any of `handles` or for input in the calling thread's queue (result `count`).
    virtual DWORD MsgWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                                            DWORD timeoutMs, DWORD wakeMask) = 0;
    virtual BOOL PeekMessageW(MSG* message, HWND window, UINT filterMin, UINT filterMax,
                              UINT removeFlags) = 0;
    virtual BOOL PostThreadMessageW(DWORD threadId, UINT message, WPARAM wParam,
                                    LPARAM lParam) = 0;
    virtual BOOL TranslateMessage(const MSG* message) = 0;
    virtual LRESULT DispatchMessageW(const MSG* message) = 0;
    virtual void Sleep(DWORD milliseconds) = 0;
    virtual DWORD GetTickCount() = 0;
    virtual BOOL GetVersionExW(OSVERSIONINFOW* version) = 0;
    // Path of `module` (null: the executable), truncated to `capacity` - 1 characters and a
    // terminator; returns the characters copied, `capacity` when truncated, 0 on failure.
    virtual DWORD GetModuleFileNameW(HMODULE module, wchar_t* path, DWORD capacity) = 0;
    // Loads a module by name (it stays loaded; nothing here frees it). Null on failure.
    virtual HMODULE LoadLibraryW(const wchar_t* name) = 0;
    // The address of the export `name` of `module`; null when there is none.
    virtual FARPROC GetProcAddress(HMODULE module, const char* name) = 0;
    // A module already loaded in this process, by name (its reference count is not raised).
    // Null when it is not loaded.
    virtual HMODULE GetModuleHandleW(const wchar_t* name) = 0;
};

// The registry. Keys are opened relative to a root or to another open key.
class IRegistry {
public:
    virtual ~IRegistry() = default;
    virtual LSTATUS RegOpenKeyExW(HKEY parent, const wchar_t* subKey, DWORD options, REGSAM access,
                                  HKEY* key) = 0;
    // `type`, `data` and `size` may be null as with RegQueryValueExW; `size` is in bytes.
    virtual LSTATUS RegQueryValueExW(HKEY key, const wchar_t* name, DWORD* type, BYTE* data,
                                     DWORD* size) = 0;
    // Name and type of the value at `index`, not its data; `nameChars` in and out as the call's.
    virtual LSTATUS RegEnumValueW(HKEY key, DWORD index, wchar_t* name, DWORD* nameChars,
                                  DWORD* type) = 0;
    virtual LSTATUS RegNotifyChangeKeyValue(HKEY key, BOOL watchSubtree, DWORD filter, HANDLE event,
                                            BOOL asynchronous) = 0;
    virtual LSTATUS RegCloseKey(HKEY key) = 0;
    // `size` in bytes, a text's terminator included. Needs a key opened with KEY_SET_VALUE.
    virtual LSTATUS RegSetValueExW(HKEY key, const wchar_t* name, DWORD type, const BYTE* data,
                                   DWORD size) = 0;
    virtual LSTATUS RegDeleteValueW(HKEY key, const wchar_t* name) = 0;
};

class IEventLog {
public:
    virtual ~IEventLog() = default;
    virtual HANDLE RegisterEventSourceW(const wchar_t* server, const wchar_t* source) = 0;
    virtual BOOL DeregisterEventSource(HANDLE source) = 0;
    virtual BOOL ReportEventW(HANDLE source, WORD type, WORD category, DWORD eventId,
                              WORD stringCount, const wchar_t** strings) = 0;
};

// The executable's own resources.
class IResources {
public:
    virtual ~IResources() = default;
    // Copies string `id` of the string table into `buffer` (at most `capacity` - 1 characters and a
    // terminator); returns the characters copied, 0 when there is no such string.
    virtual int LoadStringW(UINT id, wchar_t* buffer, int capacity) = 0;
};

// The service's own process token.
class ISecurity {
public:
    virtual ~ISecurity() = default;
    virtual BOOL OpenCurrentProcessToken(DWORD access, HANDLE* token) = 0;
    virtual BOOL LookupPrivilegeValueW(const wchar_t* system, const wchar_t* name, LUID* luid) = 0;
    virtual BOOL AdjustTokenPrivileges(HANDLE token, BOOL disableAll,
                                       const TOKEN_PRIVILEGES* privileges, DWORD size) = 0;

    // Acting as another user on the calling thread. ImpersonateSelf and ImpersonateLoggedOnUser
    // are entry points looked up at run time (EntryPoints.h).
    virtual BOOL OpenProcessToken(HANDLE process, DWORD access, HANDLE* token) = 0;
    virtual BOOL RevertToSelf() = 0;
    // The user the calling thread acts as; `chars` in and out as the call's (terminator included).
    virtual BOOL GetUserNameW(wchar_t* buffer, DWORD* chars) = 0;
};

// The service control manager. Handles are null on failure; the last error says why.
class IServiceControl {
public:
    virtual ~IServiceControl() = default;
    virtual BOOL CloseServiceHandle(SC_HANDLE handle) = 0;
    // The local machine's manager when `machine` is null, its active database when `database` is.
    virtual SC_HANDLE OpenSCManagerW(const wchar_t* machine, const wchar_t* database,
                                     DWORD access) = 0;
    virtual SC_HANDLE OpenServiceW(SC_HANDLE manager, const wchar_t* name, DWORD access) = 0;
    // `dependencies` is a list of names, each NUL-terminated, ended by one more NUL; `tag` may be
    // null; a null `account` is LocalSystem.
    virtual SC_HANDLE CreateServiceW(SC_HANDLE manager, const wchar_t* name,
                                     const wchar_t* displayName, DWORD access, DWORD serviceType,
                                     DWORD startType, DWORD errorControl,
                                     const wchar_t* binaryPath, const wchar_t* loadOrderGroup,
                                     DWORD* tag, const wchar_t* dependencies,
                                     const wchar_t* account, const wchar_t* password) = 0;
    virtual BOOL ControlService(SC_HANDLE service, DWORD control, SERVICE_STATUS* status) = 0;
    // Marks the service for deletion; it goes when it has stopped and its last handle is closed.
    virtual BOOL DeleteService(SC_HANDLE service) = 0;
    virtual SC_LOCK LockServiceDatabase(SC_HANDLE manager) = 0;
    virtual BOOL UnlockServiceDatabase(SC_LOCK lock) = 0;
    // ChangeServiceConfig2W is looked up at run time in "Advapi32" with GetProcAddress, so that
    // the executable does not depend on it: false when the system lacks it.
    virtual BOOL FindChangeServiceConfig2W() = 0;
    // Calls the function that lookup finds; fails with ERROR_PROC_NOT_FOUND when there is none.
    virtual BOOL ChangeServiceConfig2W(SC_HANDLE service, DWORD infoLevel, void* info) = 0;
};

// Files, devices and file mappings. Handles from CreateFileW and CreateFileMappingW are kernel
// handles: they are closed with IKernel::CloseHandle (UniqueFile, UniqueHandle).
class IFiles {
public:
    virtual ~IFiles() = default;
    // No security attributes, no template. INVALID_HANDLE_VALUE on failure.
    virtual HANDLE CreateFileW(const wchar_t* path, DWORD access, DWORD shareMode,
                               DWORD disposition, DWORD flagsAndAttributes) = 0;
    virtual DWORD GetFileType(HANDLE file) = 0;
    virtual BOOL GetFileSizeEx(HANDLE file, LONGLONG* size) = 0;
    // INVALID_FILE_ATTRIBUTES on failure.
    virtual DWORD GetFileAttributesW(const wchar_t* path) = 0;
    // Synchronous; `done` receives the bytes moved.
    virtual BOOL ReadFile(HANDLE file, void* buffer, DWORD bytes, DWORD* done) = 0;
    virtual BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytes, DWORD* done) = 0;
    virtual BOOL SetFilePointerEx(HANDLE file, LONGLONG distance, LONGLONG* position,
                                  DWORD moveMethod) = 0;
    virtual BOOL FlushFileBuffers(HANDLE file) = 0;
    virtual BOOL SetEndOfFile(HANDLE file) = 0;
    // Synchronous, no overlapped structure.
    virtual BOOL DeviceIoControl(HANDLE device, DWORD code, void* input, DWORD inputBytes,
                                 void* output, DWORD outputBytes, DWORD* returned) = 0;
    // Unnamed, no security attributes; null on failure.
    virtual HANDLE CreateFileMappingW(HANDLE file, DWORD protect, DWORD maximumSizeHigh,
                                      DWORD maximumSizeLow) = 0;
    // The view's address, null on failure; released with UnmapViewOfFile (UniqueView).
    virtual const void* MapViewOfFile(HANDLE mapping, DWORD access, DWORD offsetHigh,
                                      DWORD offsetLow, SIZE_T bytes) = 0;
    virtual BOOL UnmapViewOfFile(const void* view) = 0;
};

// Other processes: opening, memory, the process-status calls. Handles from OpenProcess are
// kernel handles (UniqueHandle). The native process snapshot and process information are entry
// points looked up at run time (EntryPoints.h).
class IProcesses {
public:
    virtual ~IProcesses() = default;
    // Null on failure.
    virtual HANDLE OpenProcess(DWORD access, BOOL inherit, DWORD processId) = 0;
    // Copies `bytes` from `address` in the process; `read` (may be null) receives the count.
    virtual BOOL ReadProcessMemory(HANDLE process, const void* address, void* buffer,
                                   SIZE_T bytes, SIZE_T* read) = 0;
    // Characters written without the terminator, 0 on failure; a null module names the main
    // executable. A name that does not fit is cut and the result is `capacity`.
    virtual DWORD GetModuleFileNameExW(HANDLE process, HMODULE module, wchar_t* name,
                                       DWORD capacity) = 0;
    // The device-form name of the file mapped at `address`; as GetModuleFileNameExW otherwise.
    virtual DWORD GetMappedFileNameW(HANDLE process, void* address, wchar_t* name,
                                     DWORD capacity) = 0;
    // Bytes written to `info`; 0 on failure.
    virtual SIZE_T VirtualQueryEx(HANDLE process, const void* address,
                                  MEMORY_BASIC_INFORMATION* info, SIZE_T bytes) = 0;
    virtual BOOL GetProcessMemoryInfo(HANDLE process, PROCESS_MEMORY_COUNTERS* counters,
                                      DWORD bytes) = 0;
};

// The network provider, as the user the calling thread acts as sees it. Results are Windows
// error codes (NO_ERROR on success).
class INetwork {
public:
    virtual ~INetwork() = default;
    // `bytes` in and out as the call's; the buffer receives the info structure and its text.
    virtual DWORD WNetGetUniversalNameW(const wchar_t* localPath, DWORD infoLevel, void* buffer,
                                        DWORD* bytes) = 0;
    // `chars` in and out as the call's.
    virtual DWORD WNetGetConnectionW(const wchar_t* localName, wchar_t* remoteName,
                                     DWORD* chars) = 0;
};

// One implementation of every interface of the seam.
struct Platform {
    IErrors* errors = nullptr;
    IKernel* kernel = nullptr;
    IRegistry* registry = nullptr;
    IEventLog* eventLog = nullptr;
    IResources* resources = nullptr;
    ISecurity* security = nullptr;
    IServiceControl* serviceControl = nullptr;
    IFiles* files = nullptr;
    IProcesses* processes = nullptr;
    INetwork* network = nullptr;
};

// The implementation in use. On Windows the real one unless a test installed another; in the host
// build a test must install one (the fakes) before any logic runs.
const Platform& Current();

// Makes `platform` current for the lifetime of this object (tests only; install before starting
// threads that use the seam, remove after they ended).
class ScopedPlatform {
public:
    explicit ScopedPlatform(const Platform& platform);
    ~ScopedPlatform();
    ScopedPlatform(const ScopedPlatform&) = delete;
    ScopedPlatform& operator=(const ScopedPlatform&) = delete;

private:
    const Platform* previous_;
};

inline IErrors& Errors() { return *Current().errors; }
inline IKernel& Kernel() { return *Current().kernel; }
inline IRegistry& Registry() { return *Current().registry; }
inline IEventLog& EventLog() { return *Current().eventLog; }
inline IResources& Resources() { return *Current().resources; }
inline ISecurity& Security() { return *Current().security; }
inline IServiceControl& ServiceControl() { return *Current().serviceControl; }
inline IFiles& Files() { return *Current().files; }
inline IProcesses& Processes() { return *Current().processes; }
inline INetwork& Network() { return *Current().network; }

}  // namespace os

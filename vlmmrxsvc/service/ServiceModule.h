// The service module: the one process-wide object of the service host, at the top of the service.
// It owns the settings, the exclusion lists and the event source, and hands the rooms below it
// what they need (WorkerContext, RegistryWatcherContext); nothing below includes this header.
//
// Exactly one instance exists at a time; the service's own callbacks reach it through `Module()`.
// In the executable it is a static object, constructed before `wWinMain` runs and destroyed at
// exit.
#pragma once

#include "image/ExclusionList.h"
#include "platform/UniqueResource.h"
#include "settings/ServiceSettings.h"
#include "worker/RegistryWatcher.h"
#include "worker/Worker.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

// Facts about the machine, and the system-wide optimisation level from the settings.
class CPlatform {
public:
    CPlatform();  // asks the platform for its version, once

    BOOL osVersion5OrLater = FALSE;  // Windows NT 5.0 or later: description and recovery actions
    // "DefaultSystemOptimizationLevel" as last read; written by each settings load.
    std::atomic<std::uint32_t> systemOptimizationLevel{0};
};

// What the command line asks for. Only a switch that ends the command line counts.
enum class CommandLineSwitch { None, UnregServer, RegServer, Service };

// How long the threads get after the stop signal before they are terminated.
inline constexpr DWORD kThreadStopGraceMs = 1000;
// Pause between two looks at the threads, each preceded by a stop-pending report.
inline constexpr DWORD kThreadStopPollMs = 50;
// The pause between rebuilding the exclusion lists and telling the driver about it.
inline constexpr DWORD kSettingsSettleMs = 1000;

// Signals `stopEvent` and waits until `worker` and `watcher` have ended, calling
// `reportStopPending` before every look. A thread still running kThreadStopGraceMs after the
// signal is terminated with exit code 0. A null thread handle counts as a thread that has ended.
void StopThreads(HANDLE stopEvent, HANDLE worker, HANDLE watcher,
                 const std::function<void()>& reportStopPending);

class CServiceModule final {
public:
    // The exit code of a service whose settings key could not be opened.
    static constexpr DWORD kSettingsNotLoaded = 0x80040150;

    CServiceModule();
    ~CServiceModule();
    CServiceModule(const CServiceModule&) = delete;
    CServiceModule& operator=(const CServiceModule&) = delete;

    // Loads the names, prepares the service status and opens the event source.
    void InitModule(HINSTANCE instance);
    // Scans `commandLine` (the program path included) for a switch that ends it.
    CommandLineSwitch ParseCommandLine(const wchar_t* commandLine) const;
    // Decides, from the AppID registration, whether the process is a service, and if so hands the
    // thread to the dispatcher until the service stopped. Returns the process exit code.
    DWORD Start();

    // Registers the AppID from the registry script, and with `asService` the service too (first
    // removing any service of the same name in either case), then the event source's message
    // file, then the type library. Returns CoInitialize's failure, the registry error of a failed
    // AppID open (then nothing after it happened), or RegisterTypeLib's result; a failure to
    // install is only logged, and one to write the event source changes nothing.
    HRESULT RegisterServer(BOOL registerTypeLibrary, BOOL asService);
    // Undoes RegisterServer. Returns CoInitialize's failure, else 0 whatever else failed.
    HRESULT UnregisterServer();
    // Makes the executable the message file of the event source `serviceName`: the key of that
    // name under HKLM's Application log with "EventMessageFile" (REG_EXPAND_SZ, the executable's
    // full path) and "TypesSupported" (errors, warnings and information), so that the Event
    // Viewer shows the entries' texts. Returns the registry error of the first step that failed.
    [[nodiscard]] LSTATUS RegisterEventMessages() const;
    // Deletes that key. Returns RegDeleteKeyW's result (ERROR_FILE_NOT_FOUND when there was none).
    [[nodiscard]] LSTATUS RemoveEventMessages() const;

    // Creates the service unless it is installed; true when it exists afterwards. A failure goes
    // to the event log.
    [[nodiscard]] bool Install();
    // Sends the stop control (without waiting) and deletes the service; true when no service of
    // that name exists afterwards, it is marked for deletion, or the service control manager
    // cannot be opened to look. A failure goes to the event log.
    [[nodiscard]] bool Uninstall();
    // The part of RegisterServer between the registry script and the type library: deletes
    // "LocalService" and, with `asService`, writes it and "ServiceParameters", installs the
    // service and configures it. Returns the registry error of a failed AppID open (nothing
    // changed then), else ERROR_SUCCESS.
    [[nodiscard]] LSTATUS RegisterAppIdValues(BOOL asService);
    // Sets the description and the recovery actions when the system has ChangeServiceConfig2W
    // and is Windows NT 5 or later; no result of it is looked at.
    void ConfigureService() const;

    static void WINAPI ServiceMain(DWORD argc, wchar_t** argv);
    static void WINAPI Handler(DWORD control);
    // Runs the service from RUNNING until the stop control has been handled.
    void Run();
    void ReportStatus(DWORD state);

    // Writes an entry to the event log; entries of any type but EVENTLOG_ERROR_TYPE are dropped.
    void LogEvent(WORD type, DWORD eventId, const wchar_t* first = nullptr,
                  const wchar_t* second = nullptr, const wchar_t* third = nullptr) const;

    // Reads the settings and both exclusion lists (LoadSettings of SettingsLoader.h), then pauses
    // kSettingsSettleMs and tells the stream driver. False, with nothing touched and no code
    // sent, only when the service key cannot be opened.
    [[nodiscard]] bool LoadSettings();

    // Sends one buffer-less control code to the stream driver's device, opened for this code
    // alone. True when the driver completed it; false when there is no driver or it refused.
    [[nodiscard]] bool SendDriverControl(DWORD code);

    // Starts a worker thread: created suspended, given above-normal priority, then resumed; it
    // becomes the worker the stop waits for. False, starting nothing, once the stop has begun or
    // when the thread cannot be created. A failed worker calls it for its replacement, so the
    // stop waits for (and if need be ends) whichever worker runs then: none outlives the module.
    bool StartWorker();
    // Begins the stop: no worker starts after this. Returns the worker the stop waits for (the
    // module keeps it); null when none was started.
    [[nodiscard]] HANDLE BeginStop();

    // The process and component exclusion lists, both replaced whole by LoadSettings.
    ExclusionLists exclusionLists;
    CPlatform platform;
    std::wstring serviceName;  // string 140
    std::wstring unknownName;  // string 110, "?"
    SERVICE_STATUS_HANDLE statusHandle = nullptr;
    SERVICE_STATUS status = {};
    // Written by the service thread, read by the control handler on the dispatcher's thread.
    std::atomic<DWORD> threadId{0};
    BOOL isService = FALSE;
    ServiceSettings settings;
    os::UniqueEventSource eventSource;

private:
    // The event log as the rooms below write to it: LogEvent.
    [[nodiscard]] EventLog EventLogWriter() const;
    // An installation error with one string, written when the event source is open.
    void ReportInstallError(DWORD eventId, const wchar_t* text) const;
    // The same with `error` in decimal as its string.
    void ReportInstallErrorCode(DWORD eventId, DWORD error) const;

    // What the worker and the watcher are handed; built by InitModule, kept for the process.
    WorkerContext workerContext_;
    RegistryWatcherContext watcherContext_;

    std::mutex workerLock_;
    os::UniqueHandle worker_;         // the worker the stop waits for
    os::UniqueHandle retiredWorker_;  // the failed worker that started it, on its way out
    bool stopping_ = false;
};

// The one instance. Valid from its construction to its destruction.
CServiceModule& Module();

// Opens HKEY_CLASSES_ROOT\AppID and the service's AppID key and reports in `marked` whether a
// valid "LocalService" value is there (IsTerminatedText). Returns the registry error of a failed
// open (and leaves `marked` alone), else ERROR_SUCCESS.
LSTATUS ReadServiceMarker(BOOL& marked);

// Opens HKEY_CLASSES_ROOT\AppID and, below it, the service's AppID key with `access` (the same
// rights for both). Returns the registry error of the first open that fails; `appId` is empty
// unless the result is ERROR_SUCCESS.
[[nodiscard]] LSTATUS OpenAppIdKey(REGSAM access, os::UniqueKey& appId);

// The identity under HKEY_CLASSES_ROOT\AppID whose "LocalService" value marks the service.
inline constexpr const wchar_t* kAppIdKey = L"AppID";
inline constexpr const wchar_t* kAppId = L"{5B0A6C3E-91D4-4E27-A8F3-2C7D90E1B645}";
inline constexpr const wchar_t* kLocalServiceValue = L"LocalService";
inline constexpr const wchar_t* kServiceParametersValue = L"ServiceParameters";

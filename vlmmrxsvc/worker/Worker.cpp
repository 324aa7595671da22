#include "worker/Worker.h"

#include "platform/Waits.h"
#include "process/Impersonate.h"
#include "settings/SettingsLoader.h"
#include "worker/FaultGuard.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cwchar>
#include <cwctype>
#include <string>

namespace {

constexpr DWORD kProcessWaitMs = 10;
constexpr DWORD kRepairEventWaitMs = 180000;
constexpr DWORD kRepairEventSignalled = WAIT_OBJECT_0;
constexpr DWORD kStopDuringRepairWait = WAIT_OBJECT_0 + 1;
constexpr std::uint32_t kRecordProcessImage = 2;  // the level bit that asks for a process record
constexpr DWORD kMsPerSecond = 1000;
constexpr std::size_t kFaultTextCapacity = 96;
constexpr DWORD kErrorTextCapacity = 512;

// Failed runs since the last run that completed a cycle; paces the replacements.
std::atomic<unsigned> g_consecutiveFailures{0};

enum class Visit { Done, StopSeen };

void EnableWorkerPrivileges()
{
    // Best effort: without them, processes of other users cannot be opened and are passed over.
    os::UniqueHandle token;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, token.put()) == FALSE) {
        return;
    }
    static_cast<void>(SetPrivilege(token.get(), SE_DEBUG_NAME, true));
    static_cast<void>(SetPrivilege(token.get(), SE_IMPERSONATE_NAME, true));
}

// Waits for the party that reads the repair-pending file, when its event exists, before the
// file is loaded. False when the stop came first.
bool WaitForRepairEvent(const EventLog& log, HANDLE stopEvent)
{
    const std::wstring name = std::wstring(L"Global\\") + kRepairEventName;
    const os::UniqueHandle repairEvent(::OpenEventW(SYNCHRONIZE, FALSE, name.c_str()));
    if (!repairEvent) {
        return true;
    }
    // The stop ends this wait too: the service must not sit out three minutes of its stop.
    const HANDLE handles[] = {repairEvent.get(), stopEvent};
    const DWORD result = WaitWithMessagePump(2, handles, kRepairEventWaitMs);
    if (result == WAIT_FAILED) {
        const std::wstring error = std::to_wstring(::GetLastError());
        log.Write(EVENTLOG_WARNING_TYPE, kRepairWaitFailedEvent, {kRepairEventName, error.c_str()});
    }
    return result != kStopDuringRepairWait;
}

// The system's text for `error`, without the line break that ends it; empty when it has none.
std::wstring SystemErrorText(DWORD error)
{
    wchar_t text[kErrorTextCapacity] = {};
    const DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                         0, text, kErrorTextCapacity, nullptr);
    std::wstring message(text, std::min<DWORD>(length, kErrorTextCapacity));
    while (!message.empty() && std::iswspace(message.back()) != 0) {
        message.pop_back();
    }
    return message;
}

// Writes what the worker saw of the repair-pending file to the log when it is news: a trouble
// that begins, or the end of one.
void ReportRepairFile(const WorkerContext& context, RepairFileEvent event,
                      const std::wstring& path, DWORD error = ERROR_SUCCESS)
{
    if (!context.repairFileHealth.IsNews(event, path, error)) {
        return;
    }
    const std::wstring code = std::to_wstring(error);
    const std::wstring text = SystemErrorText(error);
    switch (event) {
    case RepairFileEvent::NotConfigured:
        context.log.Write(EVENTLOG_ERROR_TYPE, kRepairFileNotConfiguredEvent, {});
        break;
    case RepairFileEvent::NotOpened:
        context.log.Write(EVENTLOG_ERROR_TYPE, kRepairFileNotOpenedEvent,
                          {path.c_str(), code.c_str(), text.c_str()});
        break;
    case RepairFileEvent::AppendFailed:
        context.log.Write(EVENTLOG_ERROR_TYPE, kRepairAppendFailedEvent,
                          {path.c_str(), code.c_str(), text.c_str()});
        break;
    case RepairFileEvent::Opened:
    case RepairFileEvent::Appended:
        // Only errors reach the log: the end of a trouble is written as one, so that it shows.
        context.log.Write(EVENTLOG_ERROR_TYPE, kRepairFileWorksEvent, {path.c_str()});
        break;
    }
}

// Opens the repair-pending file if the store has none yet, and loads what it holds, so that a
// file configured while the service runs is loaded before anything is appended to it.
void OpenAndLoadRepairFile(const WorkerContext& context, WorkerState& state)
{
    if (state.store.IsOpen()) {
        return;
    }
    const std::wstring path = ConfiguredRepairFile();
    if (path.empty()) {
        ReportRepairFile(context, RepairFileEvent::NotConfigured, path);
        return;
    }
    if (OpenRepairFile(state.store, path) == nullptr) {
        ReportRepairFile(context, RepairFileEvent::NotOpened, path, ::GetLastError());
        return;
    }
    ReportRepairFile(context, RepairFileEvent::Opened, path);
    static_cast<void>(LoadRepairRecords(state.store, state.known));
}

// Appends one record; a failed write, and the first success after failures, go to the log.
void Append(const WorkerContext& context, WorkerState& state, std::uint64_t pagefileUsage,
            std::uint64_t loadBase, std::uint64_t preferredBase, const std::wstring& componentPath,
            const std::wstring& processPath, const std::wstring& occupantPath)
{
    RepairStore& store = state.store;
    switch (AppendRepairRecord(store, pagefileUsage, loadBase, preferredBase,
                               componentPath.c_str(), processPath.c_str(),
                               occupantPath.c_str())) {
    case AppendResult::Appended:
        ReportRepairFile(context, RepairFileEvent::Appended, store.path);
        break;
    case AppendResult::WriteFailed:
        ReportRepairFile(context, RepairFileEvent::AppendFailed, store.path, store.writeError);
        break;
    case AppendResult::TextTooLong:
    case AppendResult::NoFile:
        break;  // no trouble of the file's: a path too long to record, or no file yet
    }
}

// The stop was seen: the run closes its own handle to the stop event.
Visit StopSeen(os::UniqueHandle& stopEvent)
{
    stopEvent.reset();
    return Visit::StopSeen;
}

// One relocated component: recorded unless a component of that path is known already.
void RecordComponent(const WorkerContext& context, WorkerState& state, CModuleOpt& module,
                     const std::wstring& processPath)
{
    const std::wstring componentPath = module.GetPath();
    if (state.known.IsKnownComponent(componentPath)) {
        return;
    }
    CProcessOpt& process = *state.visit;
    const ULONGLONG pagefileUsage = process.GetPagefileUsage();
    const std::wstring occupant = module.GetOccupantName(process.processHandle.get());
    // Remembered whether or not the record reaches the file: the file's own state is what the
    // next run starts from.
    static_cast<void>(state.known.AddComponent(processPath, componentPath, module.loadBase));
    Append(context, state, pagefileUsage, module.loadBase, module.preferredBase, componentPath,
           processPath, occupant);
}

// The process's own image, once per path as the process names it (compared exactly).
void RecordProcess(const WorkerContext& context, WorkerState& state,
                   const std::wstring& processPath)
{
    if (state.known.HasKey(processPath)) {
        return;
    }
    Append(context, state, kProcessRecordMark, kProcessRecordMark, kProcessRecordMark, processPath,
           processPath, processPath);
    static_cast<void>(state.known.AddProcess(processPath));
}

Visit VisitProcess(const WorkerContext& context, os::UniqueHandle& stopEvent, WorkerState& state,
                   std::uint32_t id)
{
    state.visit = std::make_unique<CProcessOpt>(context.discovery, &state.remembered);
    CProcessOpt& process = *state.visit;
    std::wstring processPath;
    // A process whose image path cannot be read is passed over: neither its level nor the
    // records could name it.
    if (!process.Open(id) || !process.GetName(processPath)) {
        return Visit::Done;
    }
    const std::uint32_t level = context.levelOf(processPath);
    if (level == 0) {
        return Visit::Done;
    }
    std::vector<CModuleOpt*> modules;
    try {
        modules = process.EnumerateModules();
    } catch (const wchar_t* text) {
        if (std::wcscmp(text, kStopEventName) == 0) {
            return StopSeen(stopEvent);
        }
        // Any other text: as if the process had no relocated components.
    }
    // A process without relocated components gets no record of its own either.
    if (modules.empty()) {
        return Visit::Done;
    }
    for (CModuleOpt* module : modules) {
        RecordComponent(context, state, *module, processPath);
    }
    if ((level & kRecordProcessImage) != 0) {
        RecordProcess(context, state, processPath);
    }
    return Visit::Done;
}

// The kept processes from the last to the first, each after a short wait that paces the visits
// and sees the stop.
Visit VisitProcesses(const WorkerContext& context, os::UniqueHandle& stopEvent,
                     WorkerState& state)
{
    for (auto id = state.kept.rbegin(); id != state.kept.rend(); ++id) {
        if (StopSignalledWithin(stopEvent.get(), kProcessWaitMs)) {
            return StopSeen(stopEvent);
        }
        const Visit visit = VisitProcess(context, stopEvent, state, *id);
        state.visit.reset();
        if (visit == Visit::StopSeen) {
            return visit;
        }
    }
    return Visit::Done;
}

// The cycle, until the stop or a failed allocation ends the run.
int RunCycles(const WorkerContext& context, os::UniqueHandle& stopEvent, WorkerState& state,
              const SnapshotQuery& query)
{
    const auto reportIdle = [&context](const wchar_t* loadPercent, const wchar_t* idleMinutes) {
        // A warning, which the service's writer drops by design.
        context.log.Write(EVENTLOG_WARNING_TYPE, kIdleReportEventId, {loadPercent, idleMinutes});
    };
    for (;;) {
        const GateOutcome gate = PassResourceGate(
            state.gateRan, context.settings, GetVirtualMemoryLoad,
            [&stopEvent](std::uint32_t timeoutMs) {
                return StopSignalledWithin(stopEvent.get(), timeoutMs);
            },
            reportIdle);
        if (gate == GateOutcome::StopSeen) {
            stopEvent.reset();
            return kRunEnded;
        }
        OpenAndLoadRepairFile(context, state);
        // Without a file nothing could be recorded; nothing is visited either, so that nothing
        // counts as known that the file does not hold once it is configured.
        if (!state.store.IsOpen()) {
            continue;
        }
        switch (TakeProcessSnapshot(state.snapshot, query, context.levelOf, state.kept)) {
        case SnapshotResult::NoMemory:
            return kRunEnded;
        case SnapshotResult::Unavailable:
            continue;  // this cycle has no snapshot; the next one tries again
        case SnapshotResult::Taken:
            break;
        }
        if (VisitProcesses(context, stopEvent, state) == Visit::StopSeen) {
            return kRunEnded;
        }
        g_consecutiveFailures = 0;
    }
}

// The code and address of the fault; a fault whose frames could not be unwound (so that what
// they held stays held) says so.
std::wstring DescribeFault(const MachineFault& fault)
{
    wchar_t text[kFaultTextCapacity] = {};
    std::swprintf(text, kFaultTextCapacity, L"exception 0x%08lX at %p%ls",
                  static_cast<unsigned long>(fault.code), fault.address,
                  fault.unwound ? L"" : L" without unwinding");
    return text;
}

// Counts a failed run and reports it with the pause its replacement will take.
void ReportFailedRun(const EventLog& log, const std::wstring& what)
{
    const std::uint32_t pauseMs = ReplacementPauseMs(++g_consecutiveFailures);
    const std::wstring seconds = std::to_wstring(pauseMs / kMsPerSecond);
    log.Write(EVENTLOG_ERROR_TYPE, kWorkerFailedEvent, {what.c_str(), seconds.c_str()});
}

struct GuardedRun {
    const WorkerContext* context;
    os::UniqueHandle* stopEvent;
    WorkerState* state;
};

int RunWithinGuard(void* context)
{
    const auto& run = *static_cast<GuardedRun*>(context);
    return RunWorker(*run.context, *run.stopEvent, *run.state);
}

}  // namespace

int RunWorker(const WorkerContext& context, os::UniqueHandle& stopEvent, WorkerState& state)
{
    stopEvent = OpenStopEvent();
    // Without the stop event the run could not be stopped, only terminated: it ends at once, and
    // says so, since the service then runs on recording nothing.
    if (!stopEvent) {
        const DWORD error = ::GetLastError();
        const std::wstring code = std::to_wstring(error);
        const std::wstring text = SystemErrorText(error);
        context.log.Write(EVENTLOG_ERROR_TYPE, kStopEventMissingEvent,
                          {code.c_str(), text.c_str()});
        return kRunEnded;
    }
    EnableWorkerPrivileges();
    if (!WaitForRepairEvent(context.log, stopEvent.get())) {
        stopEvent.reset();
        return kRunEnded;
    }
    OpenAndLoadRepairFile(context, state);
    const SnapshotQuery query = SystemProcessQuery();
    if (!query) {
        return kRunEnded;
    }
    return RunCycles(context, stopEvent, state, query);
}

unsigned WINAPI WorkerThreadProc(void* context)
{
    const auto& worker = *static_cast<const WorkerContext*>(context);
    // A replacement waits out the pause of the failures before it, unless the stop comes first.
    const DWORD pauseMs = ReplacementPauseMs(g_consecutiveFailures);
    if (pauseMs != 0) {
        const os::UniqueHandle stopEvent = OpenStopEvent();
        if (StopSignalledWithin(stopEvent.get(), pauseMs)) {
            return kRunEnded;
        }
    }
    os::UniqueHandle stopEvent;
    int result = kRunEnded;
    {
        WorkerState state;
        GuardedRun run{&worker, &stopEvent, &state};
        MachineFault fault;
        switch (RunGuarded(RunWithinGuard, &run, result, fault)) {
        case GuardedEnd::Returned:
            break;
        case GuardedEnd::Faulted:
            // Frames abandoned at a fault may have left the thread acting as a process's owner.
            if (!fault.unwound) {
                ::RevertToSelf();
            }
            ReportFailedRun(worker.log, DescribeFault(fault));
            result = kRunFailed;
            break;
        case GuardedEnd::Threw:
            ReportFailedRun(worker.log, L"an unexpected exception");
            result = kRunFailed;
            break;
        }
        // The state goes here, closing the repair-pending file before a replacement starts.
    }
    if (result == kRunFailed) {
        static_cast<void>(worker.startReplacement());
    }
    return static_cast<unsigned>(result);
}

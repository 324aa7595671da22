// The optimisation worker: one run of its cycle (RunWorker), and the thread procedure that guards
// the run and starts a replacement after a failure (WorkerThreadProc).
#pragma once

#include "image/KnownComponents.h"
#include "image/RepairStore.h"
#include "platform/EventLog.h"
#include "platform/UniqueResource.h"
#include "process/ProcessOpt.h"
#include "worker/Pacing.h"
#include "worker/ProcessSnapshot.h"
#include "worker/RepairFileHealth.h"
#include "worker/SystemQueries.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// What the service hands its worker: every way in which the worker reaches beyond itself. It must
// outlive every worker thread, replacements included.
struct WorkerContext {
    EventLog log;                  // where the worker reports failed runs and its warnings
    DiscoveryContext discovery;    // what the examination of each process needs
    GateSettingsSource settings;   // the gate's settings as of the last load, asked at every pass
    LevelLookup levelOf;           // the process exclusion list as of the last load
    std::function<bool()> startReplacement;  // starts a worker in place of a failed run
    // What the workers told the log about the repair-pending file. It outlives each run, so that
    // a replacement does not report again a trouble that a run before it reported; one worker at
    // a time uses it.
    mutable RepairFileHealth repairFileHealth;
};

// What one run holds. The thread procedure owns it, outside the guarded run, so that even a run
// whose frames the guard had to abandon at a machine fault releases it: the repair-pending file
// (which the replacement must be able to open again), the known-component list, the snapshot,
// the process in hand.
struct WorkerState {
    RepairStore store;
    KnownComponents known;
    ProcessSnapshot snapshot;
    std::vector<std::uint32_t> kept;    // the processes of the last snapshot worth visiting
    std::unique_ptr<CProcessOpt> visit;  // the process being visited
    DiscoveryMemory remembered;          // the files' preferred bases and the drives, for the run
    bool gateRan = false;                // the resource gate waits from its second pass on
};

// What RunWorker returns: 0 after every orderly end, kRunFailed when the run failed (an exception
// or a machine fault escaped it), which starts a replacement.
inline constexpr int kRunEnded = 0;
inline constexpr int kRunFailed = 1;

// The error entry written when a run fails: what ended it, and in how many seconds the
// replacement begins.
inline constexpr DWORD kWorkerFailedEvent = 0xC0000012;
// The error entries that keep a service that records nothing from being silent, each written
// when its trouble begins (RepairFileHealth): the stop event cannot be opened, so the worker does
// not run (the error and its text); there is no "RepairPendingFile" setting (no strings); the file
// cannot be opened or created, or a record could not be appended (the path, the error and its
// text); and the file works again after such a trouble (the path).
inline constexpr DWORD kStopEventMissingEvent = 0xC0000013;
inline constexpr DWORD kRepairFileNotConfiguredEvent = 0xC0000014;
inline constexpr DWORD kRepairFileNotOpenedEvent = 0xC0000015;
inline constexpr DWORD kRepairAppendFailedEvent = 0xC0000016;
inline constexpr DWORD kRepairFileWorksEvent = 0xC0000017;
// The warning for a failed wait for the repair event: the event's name and the error.
inline constexpr DWORD kRepairWaitFailedEvent = 0x80000008;
inline constexpr const wchar_t* kRepairEventName = L"MRXRepairFileEvent";

// One run of the worker: opens its own handle to the stop event into `stopEvent` (without it the
// run writes kStopEventMissingEvent and ends at once), enables its privileges, waits (at most 3
// minutes, and not past the stop) for the repair event when one exists, opens and loads the
// repair-pending file, then repeats the cycle until the stop. Each cycle passes the resource
// gate, takes a snapshot of the processes worth visiting, and visits them from the last to the
// first, recording every relocated component not seen before and, for a level with the bit of
// value 2, the process's own image. The troubles of the repair-pending file
// go to the log as they begin and end (kRepairFileNotConfiguredEvent and the three after it).
// When the stop is seen the run closes `stopEvent` itself; otherwise the caller closes it.
int RunWorker(const WorkerContext& context, os::UniqueHandle& stopEvent, WorkerState& state);

// The worker thread; `context` is a WorkerContext. A replacement first waits out the pause of the
// failures before it (ReplacementPauseMs), unless the stop comes first. The run is guarded
// (RunGuarded): after a machine fault or an exception that escaped it, and the unwinding of its
// frames, the thread writes kWorkerFailedEvent, releases what the run held and asks the context
// for a replacement. Returns kRunEnded after an orderly end, kRunFailed after a failed run.
unsigned WINAPI WorkerThreadProc(void* context);

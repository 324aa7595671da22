#include "worker/FaultGuard.h"

#include "worker/CallSiteTable.h"

#include <climits>
#include <cstdint>

#ifdef _MSC_VER
#include <eh.h>
#endif

namespace {

constexpr DWORD kSeverityMask = 0xC0000000;
constexpr DWORD kErrorSeverity = 0xC0000000;
// Beyond any int a run returns: what the frame returns when the handler unwound to it.
constexpr long long kFaulted = static_cast<long long>(INT_MAX) + 1;

thread_local MachineFault t_lastFault;

// A machine fault, thrown from where it happened; only the guard catches it.
struct FaultException {
    MachineFault fault;
};

// What the guard calls, and how it ended.
struct GuardedCall {
    int (*run)(void*);
    void* context;
    int result = 0;
    GuardedEnd end = GuardedEnd::Returned;
    MachineFault fault;
};

// The guarded function itself: it catches, still inside the guard, the fault thrown from where it
// happened and any other exception.
int CallAndCatch(void* pointer)
{
    auto& call = *static_cast<GuardedCall*>(pointer);
    try {
        call.result = call.run(call.context);
    } catch (const FaultException& thrown) {
        call.end = GuardedEnd::Faulted;
        call.fault = thrown.fault;
    } catch (...) {
        call.end = GuardedEnd::Threw;
    }
    return 0;
}

// A stack overflow leaves no stack to throw on; a fault that may not be continued cannot be
// redirected.
bool MayThrowFor(const EXCEPTION_RECORD& record)
{
    return record.ExceptionCode != EXCEPTION_STACK_OVERFLOW &&
           (record.ExceptionFlags & EXCEPTION_NONCONTINUABLE) == 0;
}

}  // namespace

bool IsMachineFault(DWORD code)
{
    return (code & kSeverityMask) == kErrorSeverity || code == EXCEPTION_DATATYPE_MISALIGNMENT;
}

#ifdef _MSC_VER

// Built with /EHa (vlmmrxsvc/CMakeLists.txt), MSVC's code unwinds C++ frames for structured
// exceptions too, running their destructors, and the translator throws a machine fault as a C++
// exception from the faulting frame: what the redirection below does for GCC's code. A fault
// that reaches the filter instead (a stack overflow, or one raised where no C++ frame translates
// it) abandons the frames inside.
namespace {

void TranslateFault(unsigned code, EXCEPTION_POINTERS* pointers)
{
    if (IsMachineFault(code) && MayThrowFor(*pointers->ExceptionRecord)) {
        throw FaultException{{code, pointers->ExceptionRecord->ExceptionAddress, true}};
    }
}

int FilterFault(const EXCEPTION_POINTERS* pointers)
{
    const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
    if (!IsMachineFault(record->ExceptionCode)) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    t_lastFault = {record->ExceptionCode, record->ExceptionAddress, false};
    return EXCEPTION_EXECUTE_HANDLER;
}

long long CallWithFaultGuard(int (*run)(void*), void* context)
{
    const _se_translator_function previous = _set_se_translator(TranslateFault);
    long long returned = 0;
    __try {
        returned = run(context);
    } __except (FilterFault(GetExceptionInformation())) {
        returned = kFaulted;
    }
    _set_se_translator(previous);
    return returned;
}

}  // namespace

#else

extern "C" {

long long CallWithFaultGuard(int (*run)(void*), void* context);
void FaultGuardResume();
void FaultGuardThrow();
EXCEPTION_DISPOSITION __gxx_personality_seh0(EXCEPTION_RECORD*, void*, CONTEXT*,
                                             DISPATCHER_CONTEXT*);

// Where FaultGuardThrow leads: throws the fault the handler recorded.
[[noreturn]] void FaultGuardThrowFault() { throw FaultException{t_lastFault}; }

}  // extern "C"

namespace {

// A deeper stack than the service ever has: a walk that gets this far has lost its way.
constexpr int kMostFramesWalked = 256;

// Whether the call-site table at `handlerData` (GCC's handler data is the function's
// language-specific data) lists the instruction before `controlPc`, the byte the personality
// looks up. The table lies in the executable's read-only data, which bounds the read.
bool TableCovers(void* handlerData, ULONG64 functionStart, ULONG64 controlPc)
{
    MEMORY_BASIC_INFORMATION region{};
    if (handlerData == nullptr || ::VirtualQuery(handlerData, &region, sizeof region) == 0) {
        return false;
    }
    const auto* begin = static_cast<const std::uint8_t*>(handlerData);
    const auto* end = static_cast<const std::uint8_t*>(region.BaseAddress) + region.RegionSize;
    return CallSiteTableCovers({begin, end}, controlPc - 1 - functionStart);
}

// Whether a C++ exception thrown from the fault, with the fault's address + 1 as the thrower's
// return address, reaches the guard's frame (`guardFrame`) through frames of the guard's own
// executable (`guardImage`) that all let it pass: walks them as the dispatcher will.
bool CanThrowFromFault(const EXCEPTION_RECORD& record, const CONTEXT& faulted, ULONG64 guardImage,
                       ULONG64 guardFrame)
{
    if (!MayThrowFor(record)) {
        return false;
    }
    CONTEXT frame = faulted;
    frame.Rip = reinterpret_cast<ULONG64>(record.ExceptionAddress) + 1;
    for (int walked = 0; walked < kMostFramesWalked; ++walked) {
        const ULONG64 controlPc = frame.Rip;
        ULONG64 image = 0;
        PRUNTIME_FUNCTION function = ::RtlLookupFunctionEntry(controlPc, &image, nullptr);
        if (function == nullptr || image != guardImage) {
            return false;
        }
        void* handlerData = nullptr;
        ULONG64 establisher = 0;
        const auto handler = reinterpret_cast<void*>(
            ::RtlVirtualUnwind(UNW_FLAG_EHANDLER, image, controlPc, function, &frame,
                               &handlerData, &establisher, nullptr));
        if (establisher == guardFrame) {
            return true;
        }
        if (handler != nullptr &&
            (handler != reinterpret_cast<void*>(&__gxx_personality_seh0) ||
             !TableCovers(handlerData, image + function->BeginAddress, controlPc))) {
            return false;
        }
    }
    return false;
}

}  // namespace

extern "C" {

// The language handler of CallWithFaultGuard's frame. The dispatcher calls it only for exceptions
// that no frame inside handled. It takes machine faults: where a C++ exception can leave the
// fault (CanThrowFromFault), it resumes the thread at FaultGuardThrow in place of the faulting
// instruction, so that the exception unwinds every frame with its destructors; otherwise it
// unwinds every frame inside to the guard (their handlers see the unwind, and GCC's own run no
// cleanups for an exception that is not a C++ throw), leaving kFaulted as the frame's result.
EXCEPTION_DISPOSITION FaultGuardHandler(EXCEPTION_RECORD* record, void* establisherFrame,
                                        CONTEXT* context, DISPATCHER_CONTEXT* dispatch)
{
    if ((record->ExceptionFlags & EXCEPTION_UNWIND) != 0 ||
        !IsMachineFault(record->ExceptionCode)) {
        return ExceptionContinueSearch;
    }
    t_lastFault = {record->ExceptionCode, record->ExceptionAddress, false};
    if (CanThrowFromFault(*record, *context, dispatch->ImageBase,
                          reinterpret_cast<ULONG64>(establisherFrame))) {
        t_lastFault.unwound = true;
        // Only volatile registers change: the faulting frame's own stay as the unwinder needs them.
        context->R11 = reinterpret_cast<ULONG64>(record->ExceptionAddress) + 1;
        context->Rip = reinterpret_cast<ULONG64>(&FaultGuardThrow);
        return ExceptionContinueExecution;
    }
    ::RtlUnwindEx(establisherFrame, reinterpret_cast<void*>(&FaultGuardResume), record,
                  reinterpret_cast<void*>(kFaulted), context, dispatch->HistoryTable);
    return ExceptionContinueSearch;  // not reached: the unwind continues at FaultGuardResume
}

}  // extern "C"

#endif

GuardedEnd RunGuarded(int (*run)(void*), void* context, int& result, MachineFault& fault)
{
    // Touched here first: the handler must not be the first to use the thread's storage.
    t_lastFault = {};
    GuardedCall call{run, context, 0, GuardedEnd::Returned, {}};
    if (CallWithFaultGuard(CallAndCatch, &call) == kFaulted) {
        fault = t_lastFault;
        return GuardedEnd::Faulted;
    }
    result = call.result;
    fault = call.fault;
    return call.end;
}

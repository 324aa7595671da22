#include "worker/FaultGuard.h"

#include <climits>

namespace {

constexpr DWORD kSeverityMask = 0xC0000000;
constexpr DWORD kErrorSeverity = 0xC0000000;
// Beyond any int a run returns: what the frame returns when the handler unwound to it.
constexpr long long kFaulted = static_cast<long long>(INT_MAX) + 1;

thread_local MachineFault t_lastFault;

}  // namespace

bool IsMachineFault(DWORD code)
{
    return (code & kSeverityMask) == kErrorSeverity || code == EXCEPTION_DATATYPE_MISALIGNMENT;
}

#ifdef _MSC_VER

namespace {

int FilterFault(const EXCEPTION_POINTERS* pointers)
{
    const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
    if (!IsMachineFault(record->ExceptionCode)) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    t_lastFault = {record->ExceptionCode, record->ExceptionAddress};
    return EXCEPTION_EXECUTE_HANDLER;
}

long long CallWithFaultGuard(int (*run)(void*), void* context)
{
    __try {
        return run(context);
    } __except (FilterFault(GetExceptionInformation())) {
        return kFaulted;
    }
}

}  // namespace

#else

extern "C" {

long long CallWithFaultGuard(int (*run)(void*), void* context);
void FaultGuardResume();

// The language handler of CallWithFaultGuard's frame. The dispatcher calls it only for exceptions
// that no frame inside handled; it takes machine faults and unwinds every frame inside to the
// guard (their handlers see the unwind, and GCC's own run no cleanups for an exception that is
// not a C++ throw), leaving kFaulted as the frame's result.
EXCEPTION_DISPOSITION FaultGuardHandler(EXCEPTION_RECORD* record, void* establisherFrame,
                                        CONTEXT* context, DISPATCHER_CONTEXT* dispatch)
{
    if ((record->ExceptionFlags & EXCEPTION_UNWIND) != 0 ||
        !IsMachineFault(record->ExceptionCode)) {
        return ExceptionContinueSearch;
    }
    t_lastFault = {record->ExceptionCode, record->ExceptionAddress};
    ::RtlUnwindEx(establisherFrame, reinterpret_cast<void*>(&FaultGuardResume), record,
                  reinterpret_cast<void*>(kFaulted), context, dispatch->HistoryTable);
    return ExceptionContinueSearch;  // not reached: the unwind continues at FaultGuardResume
}

}  // extern "C"

#endif

bool RunGuarded(int (*run)(void*), void* context, int& result, MachineFault& fault)
{
    const long long returned = CallWithFaultGuard(run, context);
    if (returned == kFaulted) {
        fault = t_lastFault;
        return false;
    }
    result = static_cast<int>(returned);
    return true;
}

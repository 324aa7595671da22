// A guard at the bottom of a thread against machine faults (an access violation, an in-page
// error reading a mapped file that shrank): the call it guards is abandoned at the fault, and the
// guard returns as if the call had failed. The abandoned frames get no destructors run, so what a
// guarded call must release after a fault it keeps in objects that its caller owns.
#pragma once

#include "platform/Windows.h"

// The fault that ended the last guarded call of this thread that ended by a fault.
struct MachineFault {
    DWORD code = 0;            // the exception code, for instance EXCEPTION_ACCESS_VIOLATION
    const void* address = nullptr;  // where it happened
};

// Calls `run(context)` and returns true with its result in `result`; returns false, with the
// fault in `fault`, when a machine fault that nothing inside handled ended it. C++ exceptions are
// not faults: a guarded call must not let one escape.
[[nodiscard]] bool RunGuarded(int (*run)(void*), void* context, int& result, MachineFault& fault);

// Whether `code` is a machine fault the guard takes (an error-severity exception or a misaligned
// access; not a C++ exception, not a debugger's breakpoint).
[[nodiscard]] bool IsMachineFault(DWORD code);

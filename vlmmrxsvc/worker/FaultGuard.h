// A guard at the bottom of a thread against machine faults (an access violation, an in-page
// error reading a mapped file that shrank). A fault that nothing inside the guarded call handled
// becomes a C++ exception thrown from the faulting instruction, so that every destructor between
// it and the guard runs as for any exception: locks are released, impersonation is reverted,
// handles are closed. That takes exception tables that cover the faulting instruction and every
// frame up to the guard; where they do not (below), the guard abandons those frames instead, and
// what they held stays held.
#pragma once

#include "platform/Windows.h"

// The fault that ended the last guarded call of this thread that ended by a fault.
struct MachineFault {
    DWORD code = 0;                 // the exception code, for instance EXCEPTION_ACCESS_VIOLATION
    const void* address = nullptr;  // where it happened
    // Whether the frames between the fault and the guard were unwound with their destructors run;
    // false when they were abandoned.
    bool unwound = false;
};

// How a guarded call ended.
enum class GuardedEnd { Returned, Faulted, Threw };

// Calls `run(context)`. Returned: it returned, with its result in `result`. Threw: a C++
// exception escaped it. Faulted: a machine fault that nothing inside handled ended it, described
// in `fault`. The fault is thrown as a C++ exception (which nothing but the guard catches) when
//   - it happened in this executable's own code, not in a system DLL (which may hold a lock of
//     its own, such as the heap's or the loader's, that an exception would not release),
//   - every frame from it up to the guard is this executable's, and each one whose function has
//     C++ cleanups lists the instruction in its call-site table (CallSiteTable.h): code built with
//     -fnon-call-exceptions lists its trapping instructions, a call of a function that cannot
//     throw (memcpy, a noexcept function) is not listed,
//   - and it is not a stack overflow, which leaves no stack to throw on.
// Otherwise the frames inside are abandoned without their destructors, and `fault.unwound` is
// false.
[[nodiscard]] GuardedEnd RunGuarded(int (*run)(void*), void* context, int& result,
                                    MachineFault& fault);

// Whether `code` is a machine fault the guard takes (an error-severity exception or a misaligned
// access; not a C++ exception, not a debugger's breakpoint).
[[nodiscard]] bool IsMachineFault(DWORD code);

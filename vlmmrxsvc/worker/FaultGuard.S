/* The frame of RunGuarded: it calls the guarded function with a frame-based exception handler,
 * FaultGuardHandler, that sees only the faults that nothing inside handled. The handler either
 * sends the faulting thread to FaultGuardThrow, which throws the fault as a C++ exception from
 * where it happened, or unwinds to FaultGuardResume, which returns from this frame with the
 * handler's result. mingw-w64 only; a build with MSVC translates faults in FaultGuard.cpp. */
    .text
    .p2align 4
    .globl  CallWithFaultGuard
    .def    CallWithFaultGuard; .scl 2; .type 32; .endef
    .seh_proc CallWithFaultGuard
/* long long CallWithFaultGuard(int (*run)(void*), void* context) */
CallWithFaultGuard:
    pushq   %rbp
    .seh_pushreg %rbp
    movq    %rsp, %rbp
    .seh_setframe %rbp, 0
    subq    $32, %rsp               /* the callee's shadow space; keeps the stack 16-aligned */
    .seh_stackalloc 32
    .seh_handler FaultGuardHandler, @except
    .seh_endprologue
    movq    %rcx, %rax
    movq    %rdx, %rcx
    callq   *%rax
    cltq                            /* the run's int result, sign-extended */
    .globl  FaultGuardResume
FaultGuardResume:
    movq    %rbp, %rsp
    popq    %rbp
    retq
    .seh_endproc

/* Where the handler sends a thread that faulted, with the fault's address + 1 in r11. Pushed, it
 * becomes this routine's return address, so that the unwinder takes the faulting instruction for
 * a call that threw (it looks up the byte before a return address). The push comes before the
 * routine's unwind information begins: from its first described instruction on it is an ordinary
 * function entered by a call. The stack may be at any alignment after a fault: it is aligned
 * afresh before FaultGuardThrowFault, which throws and never returns. */
    .p2align 4
    .globl  FaultGuardThrow
    .def    FaultGuardThrow; .scl 2; .type 32; .endef
FaultGuardThrow:
    pushq   %r11
    .def    FaultGuardThrowFrame; .scl 3; .type 32; .endef
    .seh_proc FaultGuardThrowFrame
FaultGuardThrowFrame:
    pushq   %rbp
    .seh_pushreg %rbp
    movq    %rsp, %rbp
    .seh_setframe %rbp, 0
    .seh_endprologue
    andq    $-16, %rsp
    subq    $32, %rsp               /* the callee's shadow space */
    callq   FaultGuardThrowFault
    int3                            /* not reached; keeps the return address inside this routine */
    .seh_endproc

/* The frame of RunGuarded: it calls the guarded function with a frame-based exception handler,
 * FaultGuardHandler, that sees only the faults that nothing inside handled. The handler unwinds
 * to FaultGuardResume, which returns from this frame with the handler's result. mingw-w64 only;
 * a build with MSVC uses __try/__except in FaultGuard.cpp instead. */
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

// CallGuarded on Windows: a frame-based structured exception handler, since GCC has no __try/__except.
// The frame that owns the handler is a few lines of assembly per word size. It saves every
// callee-saved register itself, so the way out restores them whatever the callee did to them.
// Each block starts and ends in .text, where GCC expects to be around it.
#include <windows.h>

#include "platform/Platform.h"

#include <cstddef>

// The assembly stores the code at the start of the state and reads hostCalls by its offset.
static_assert(offsetof(platform::GuardedCall, exceptionCode) == 0 && offsetof(platform::GuardedCall, hostCalls) == 4,
              "the guard's assembly addresses GuardedCall by these offsets");

extern "C" int MorvaneGuardRun(void (*call)(void* context), void* context, platform::GuardedCall* state);

#if defined(__x86_64__)

// The landing point inside MorvaneGuardRun's body; RtlUnwindEx hands it the code in eax.
extern "C" void MorvaneGuardLanding();

// Named by MorvaneGuardRun's unwind data for the dispatch phase only (@except): whatever reaches
// it escaped the callee. "used", because only the assembly refers to it.
extern "C" __attribute__((used)) EXCEPTION_DISPOSITION MorvaneGuardCatch(EXCEPTION_RECORD* record, void* frame,
                                                                         CONTEXT*, DISPATCHER_CONTEXT* dispatch) {
    if (record->ExceptionFlags & EXCEPTION_UNWIND) return ExceptionContinueSearch;
    // The state pointer that MorvaneGuardRun keeps at 192 in its frame: while the host's own code
    // runs inside the call, its exceptions go on to whoever would have had them without us.
    const auto* state = *reinterpret_cast<platform::GuardedCall* const*>(static_cast<char*>(frame) + 192);
    if (state->hostCalls) return ExceptionContinueSearch;
    // No record: the unwind runs as a plain STATUS_UNWIND, so GCC's C++ frames below do not take it
    // for their own throw and start cleanups that would resume a throw nobody catches.
    RtlUnwindEx(frame, reinterpret_cast<void*>(&MorvaneGuardLanding), nullptr,
                reinterpret_cast<void*>(static_cast<uintptr_t>(record->ExceptionCode)), dispatch->ContextRecord,
                dispatch->HistoryTable);
    return ExceptionContinueSearch;
}

// MorvaneGuardRun(call: rcx, context: rdx, state: r8). Frame: the callee's 32 bytes of home space,
// xmm6-xmm15 at 32..191, the state pointer at 192 (the code goes to its first four bytes).
asm(R"(
    .text
    .p2align 4
    .globl MorvaneGuardRun
    .def MorvaneGuardRun; .scl 2; .type 32; .endef
    .seh_proc MorvaneGuardRun
MorvaneGuardRun:
    .irp r, rbp, rbx, rdi, rsi, r12, r13, r14, r15
    pushq %\r
    .seh_pushreg %\r
    .endr
    subq $200, %rsp
    .seh_stackalloc 200
    .irp x, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15
    movaps %xmm\x, (\x-4)*16(%rsp)
    .seh_savexmm %xmm\x, (\x-4)*16
    .endr
    .seh_endprologue
    .seh_handler MorvaneGuardCatch, @except
    movq %r8, 192(%rsp)
    movq %rcx, %rax
    movq %rdx, %rcx
    call *%rax
    movl $1, %eax
    jmp MorvaneGuardLeave
    .globl MorvaneGuardLanding
MorvaneGuardLanding:
    movq 192(%rsp), %rcx
    movl %eax, (%rcx)
    xorl %eax, %eax
    cld                                 # the fault may have left the direction flag set
MorvaneGuardLeave:
    .irp x, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15
    movaps (\x-4)*16(%rsp), %xmm\x
    .endr
    addq $200, %rsp
    .irp r, r15, r14, r13, r12, rsi, rdi, rbx, rbp
    popq %\r
    .endr
    ret
    .seh_endproc
    .text
)");

#elif defined(__i386__)

// _MorvaneGuardRun(call, context, state), cdecl. Below the saved ebp, ebx, esi and edi lies the
// registration record {next, handler} at ebp-20, chained at fs:[0] while the callee runs.
// The handler keeps what it needs on the stack across RtlUnwind, which need not preserve ebx,
// esi, edi or ebp; once RtlUnwind has made the record the newest again, it leaves by the guard's exit.
asm(R"(
    .text
    .p2align 4
    .globl _MorvaneGuardRun
    .def _MorvaneGuardRun; .scl 2; .type 32; .endef
_MorvaneGuardRun:
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    pushl $MorvaneGuardCatch
    pushl %fs:0
    movl %esp, %fs:0
    andl $-16, %esp
    subl $12, %esp
    pushl 12(%ebp)
    call *8(%ebp)
    movl $1, %eax
MorvaneGuardLeave:
    movl -20(%ebp), %ecx
    movl %ecx, %fs:0
    leal -12(%ebp), %esp                # also right when a __stdcall callee popped its arguments
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret

    .p2align 4
    .def MorvaneGuardCatch; .scl 3; .type 32; .endef
MorvaneGuardCatch:                      # (record, frame, context, dispatcher), cdecl
    movl 4(%esp), %eax
    testl $6, 4(%eax)                   # EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND: pass
    jnz 1f
    movl 8(%esp), %edx
    movl 36(%edx), %ecx                 # the state: third argument, at ebp+16 = frame+36
    cmpl $0, 4(%ecx)                    # hostCalls: the host's own code is not ours to catch
    jnz 1f
    pushl (%eax)                        # the code and the frame, kept across RtlUnwind
    pushl %edx
    pushl $0                            # a plain unwind, as __except does
    pushl $0
    pushl $0
    pushl %edx
    call *__imp__RtlUnwind@16
    popl %edx
    popl %eax
    leal 20(%edx), %ebp
    movl 16(%ebp), %ecx
    movl %eax, (%ecx)
    xorl %eax, %eax
    jmp MorvaneGuardLeave
1:
    movl $1, %eax                       # ExceptionContinueSearch
    ret
    .text
)");

#else
#error "the exception guard knows only x86_64 and i686"
#endif

namespace platform {

bool CallGuarded(void (*call)(void* context), void* context, GuardedCall& state) {
    return MorvaneGuardRun(call, context, &state) != 0;
}

bool CallGuarded(void (*call)(void* context), void* context, uint32_t& exceptionCode) {
    GuardedCall state;
    if (MorvaneGuardRun(call, context, &state)) return true;
    exceptionCode = state.exceptionCode;
    return false;
}

void CallOutsideGuard(GuardedCall& state, void (*call)(void* context), void* context) {
    // Only the thread that runs the guarded call is under its guard, and the state lies on that
    // thread's stack.
    // GCC 12 takes the segment read in NtCurrentTeb for an access past an empty array.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Warray-bounds"
    const auto* tib = reinterpret_cast<const NT_TIB*>(NtCurrentTeb());
#pragma GCC diagnostic pop
    const auto* at = reinterpret_cast<const char*>(&state);
    const bool inside = at >= static_cast<const char*>(tib->StackLimit) && at < static_cast<const char*>(tib->StackBase);
    if (inside) ++state.hostCalls;
    call(context);
    if (inside) --state.hostCalls;
}

// A frame-based handler needs nothing installed.
void HoldFaultGuard() {}
void ReleaseFaultGuard() {}

}  // namespace platform

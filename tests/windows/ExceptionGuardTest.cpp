// platform::CallGuarded on Windows: every kind of structured exception that escapes the callee is
// caught with its code, what the callee handles itself is left alone, and the caller's registers,
// stack and exception chain come back as they were, on any thread and any number of times.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/Platform.h"

#include "support/Emulation.h"

namespace {
using test_support::AsReported;
const bool kUnderEmulation = test_support::UnderEmulation();
const uint32_t kAccessViolation = AsReported(EXCEPTION_ACCESS_VIOLATION);
}  // namespace

// qemu-user cannot deliver a fault once the stack pointer is clobbered: those callees wait for a
// machine that runs i386 code itself.
#define SKIP_CLOBBERED_STACK_UNDER_EMULATION(call)                                                   \
    if (kUnderEmulation && ((call) == ClobberingCallee || (call) == DeepClobberingFault))            \
    GTEST_SKIP() << "qemu-user cannot deliver a fault after the stack pointer was clobbered"

// Callees that break the calling convention on purpose, and a probe that loads every callee-saved
// register with a known value around a guarded call and reads them all back afterwards.
extern "C" {
#if defined(__x86_64__)
void GuardTestClobberAndFault(void*);        // no unwind data, saves nothing, sets DF
void GuardTestClobberAndReturn(void*);       // saves nothing, returns normally
void GuardTestSaveThenClobberAndFault();     // saves all in its prologue, then calls the first
#else
void __stdcall GuardTestClobberAndFault(uint32_t, uint32_t, uint32_t);  // moves esp, saves nothing, sets DF
void GuardTestClobberAndReturn(void*);       // saves nothing, returns with "ret $12"
#endif
struct RegisterProbe;
void GuardTestProbeRegisters(RegisterProbe* probe);
}

#if defined(__x86_64__)
constexpr size_t kRegisterSlots = 28;  // rbx rbp rsi rdi r12-r15, then xmm6-xmm15 as two halves each
#else
constexpr size_t kRegisterSlots = 4;   // ebx esi edi ebp
#endif

struct RegisterProbe {
    uintptr_t before[kRegisterSlots];
    uintptr_t after[kRegisterSlots];
    bool (*guard)(void (*)(void*), void*, uint32_t&);
    void (*call)(void*);
    void* context;
    uint32_t code;
    uint32_t answer;
    uintptr_t canary;  // read back from the probe's own frame, through the stack pointer
    uintptr_t flags;   // EFLAGS after the guarded call
};

#if defined(__x86_64__)
static_assert(offsetof(RegisterProbe, after) == 224 && offsetof(RegisterProbe, guard) == 448 &&
                  offsetof(RegisterProbe, call) == 456 && offsetof(RegisterProbe, context) == 464 &&
                  offsetof(RegisterProbe, code) == 472 && offsetof(RegisterProbe, answer) == 476 &&
                  offsetof(RegisterProbe, canary) == 480 && offsetof(RegisterProbe, flags) == 488,
              "the probe's assembly addresses these fields by offset");
asm(R"(
    .text
    .p2align 4
    .globl GuardTestClobberAndFault
    .def GuardTestClobberAndFault; .scl 2; .type 32; .endef
GuardTestClobberAndFault:
    movabs $0xBAD0BAD0BAD0BAD0, %rax
    .irp r, rbx, rbp, rsi, rdi, r12, r13, r14, r15
    movq %rax, %\r
    .endr
    .irp x, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15
    movq %rax, %xmm\x
    .endr
    std
    xorl %eax, %eax
    movl %eax, (%rax)
    ret

    .p2align 4
    .globl GuardTestClobberAndReturn
    .def GuardTestClobberAndReturn; .scl 2; .type 32; .endef
GuardTestClobberAndReturn:
    movabs $0xD0D0D0D0D0D0D0D0, %rax
    .irp r, rbx, rbp, rsi, rdi, r12, r13, r14, r15
    movq %rax, %\r
    .endr
    .irp x, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15
    movq %rax, %xmm\x
    .endr
    ret

    .p2align 4
    .globl GuardTestSaveThenClobberAndFault
    .def GuardTestSaveThenClobberAndFault; .scl 2; .type 32; .endef
    .seh_proc GuardTestSaveThenClobberAndFault
GuardTestSaveThenClobberAndFault:
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
    call GuardTestClobberAndFault
    nop
    .irp x, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15
    movaps (\x-4)*16(%rsp), %xmm\x
    .endr
    addq $200, %rsp
    .irp r, r15, r14, r13, r12, rsi, rdi, rbx, rbp
    popq %\r
    .endr
    ret
    .seh_endproc

    .p2align 4
    .globl GuardTestProbeRegisters
    .def GuardTestProbeRegisters; .scl 2; .type 32; .endef
    .seh_proc GuardTestProbeRegisters
GuardTestProbeRegisters:
    .irp r, rbp, rbx, rdi, rsi, r12, r13, r14, r15
    pushq %\r
    .seh_pushreg %\r
    .endr
    subq $216, %rsp
    .seh_stackalloc 216
    .irp x, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15
    movaps %xmm\x, (\x-4)*16(%rsp)
    .seh_savexmm %xmm\x, (\x-4)*16
    .endr
    .seh_endprologue
    movq %rcx, 192(%rsp)
    movabs $0x5EC0DE5A5EC0DE5A, %rax
    movq %rax, 200(%rsp)
    movq %rcx, %rax
    movq 0(%rax), %rbx
    movq 8(%rax), %rbp
    movq 16(%rax), %rsi
    movq 24(%rax), %rdi
    movq 32(%rax), %r12
    movq 40(%rax), %r13
    movq 48(%rax), %r14
    movq 56(%rax), %r15
    .irp x, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15
    movdqu (\x-2)*16(%rax), %xmm\x
    .endr
    movq 456(%rax), %rcx
    movq 464(%rax), %rdx
    leaq 472(%rax), %r8
    call *448(%rax)
    movq 192(%rsp), %rcx
    movzbl %al, %eax
    movl %eax, 476(%rcx)
    movq %rbx, 224(%rcx)
    movq %rbp, 232(%rcx)
    movq %rsi, 240(%rcx)
    movq %rdi, 248(%rcx)
    movq %r12, 256(%rcx)
    movq %r13, 264(%rcx)
    movq %r14, 272(%rcx)
    movq %r15, 280(%rcx)
    .irp x, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15
    movdqu %xmm\x, 224+(\x-2)*16(%rcx)
    .endr
    movq 200(%rsp), %rax
    movq %rax, 480(%rcx)
    pushfq
    popq 488(%rcx)
    .irp x, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15
    movaps (\x-4)*16(%rsp), %xmm\x
    .endr
    addq $216, %rsp
    .irp r, r15, r14, r13, r12, rsi, rdi, rbx, rbp
    popq %\r
    .endr
    ret
    .seh_endproc
)");
#else
static_assert(offsetof(RegisterProbe, after) == 16 && offsetof(RegisterProbe, guard) == 32 &&
                  offsetof(RegisterProbe, call) == 36 && offsetof(RegisterProbe, context) == 40 &&
                  offsetof(RegisterProbe, code) == 44 && offsetof(RegisterProbe, answer) == 48 &&
                  offsetof(RegisterProbe, canary) == 52 && offsetof(RegisterProbe, flags) == 56,
              "the probe's assembly addresses these fields by offset");
asm(R"(
    .text
    .p2align 4
    .globl _GuardTestClobberAndFault@12
    .def _GuardTestClobberAndFault@12; .scl 2; .type 32; .endef
_GuardTestClobberAndFault@12:
    movl $0xBAD0BAD0, %eax
    movl %eax, %ebx
    movl %eax, %esi
    movl %eax, %edi
    movl %eax, %ebp
    pushl %eax
    pushl %eax
    pushl %eax
    std
    xorl %eax, %eax
    movl %eax, (%eax)
    ret $12

    .p2align 4
    .globl _GuardTestClobberAndReturn
    .def _GuardTestClobberAndReturn; .scl 2; .type 32; .endef
_GuardTestClobberAndReturn:
    movl $0xD0D0D0D0, %eax
    movl %eax, %ebx
    movl %eax, %esi
    movl %eax, %edi
    ret $12

    .p2align 4
    .globl _GuardTestProbeRegisters
    .def _GuardTestProbeRegisters; .scl 2; .type 32; .endef
_GuardTestProbeRegisters:
    pushl %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    movl 20(%esp), %eax
    pushl $0x5EC0DE5A
    pushl %eax
    leal 44(%eax), %ecx
    pushl %ecx
    pushl 40(%eax)
    pushl 36(%eax)
    movl 32(%eax), %ecx
    movl 0(%eax), %ebx
    movl 4(%eax), %esi
    movl 8(%eax), %edi
    movl 12(%eax), %ebp
    call *%ecx
    addl $12, %esp
    movl (%esp), %ecx
    movzbl %al, %eax
    movl %eax, 48(%ecx)
    movl %ebx, 16(%ecx)
    movl %esi, 20(%ecx)
    movl %edi, 24(%ecx)
    movl %ebp, 28(%ecx)
    movl 4(%esp), %eax
    movl %eax, 52(%ecx)
    pushfl
    popl 56(%ecx)
    addl $8, %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret
)");
#endif

namespace {

constexpr uint32_t kUntouched = 0xDEADBEEFu;

// The head of this thread's exception-registration chain (NT_TIB.ExceptionList). Read directly:
// GCC 12 warns about the header's NtCurrentTeb() with -Warray-bounds.
void* ExceptionChain() {
    void* head;
#if defined(__x86_64__)
    asm volatile("movq %%gs:0, %0" : "=r"(head));
#else
    asm volatile("movl %%fs:0, %0" : "=r"(head));
#endif
    return head;
}

// --- Callees --------------------------------------------------------------------------------------

void WriteToAddressZero(void*) {
    volatile int* volatile target = nullptr;  // both volatile, or the optimizer drops or traps the write
    *target = 1;
}

void RaiseContextCode(void* context) { RaiseException(*static_cast<const DWORD*>(context), 0, 0, nullptr); }

void RaiseNoncontinuable(void* context) {
    const ULONG_PTR arguments[2] = {1, 2};
    RaiseException(*static_cast<const DWORD*>(context), EXCEPTION_NONCONTINUABLE, 2, arguments);
}

void DivideByZero(void*) {
    volatile int numerator = 7;
    volatile int zero = 0;
    volatile int quotient = numerator / zero;
    (void)quotient;
}

void IllegalInstruction(void*) { __builtin_trap(); }

void Breakpoint(void*) { DebugBreak(); }

void PrivilegedInstruction(void*) { asm volatile("hlt"); }

void ReturnNormally(void* context) {
    if (context) ++*static_cast<int*>(context);
}

// Calls bottom from depth frames further down, each with some stack of its own.
__attribute__((noinline)) int Descend(int depth, void (*bottom)()) {
    volatile char room[64];
    room[0] = static_cast<char>(depth);
    if (depth == 0)
        bottom();
    else
        Descend(depth - 1, bottom);
    return room[0];  // used after the call, so no call here is a tail call
}

void FaultAtTheBottom() { WriteToAddressZero(nullptr); }

void DeepFault(void*) { Descend(40, FaultAtTheBottom); }

// A convention-breaking callee: on x64 called by the guard itself, since unwinding through it needs
// the caller's frame pointer intact; on x86 a thunk to a __stdcall function, as a sub-module has.
// Deep down, x64 gets the variant that saved everything in a prologue the unwinder can read.
#if defined(__x86_64__)
void ClobberAtTheBottom() { GuardTestSaveThenClobberAndFault(); }
void (*const ClobberingCallee)(void*) = GuardTestClobberAndFault;
#else
void ClobberAtTheBottom() { GuardTestClobberAndFault(1, 2, 3); }
void ClobberingThunk(void*) { GuardTestClobberAndFault(1, 2, 3); }
void (*const ClobberingCallee)(void*) = ClobberingThunk;
#endif

void DeepClobberingFault(void*) { Descend(25, ClobberAtTheBottom); }

// --- The exception kinds -----------------------------------------------------------------------

struct FaultCase {
    const char* name;
    void (*call)(void*);
    DWORD raised;  // the code for the callees that raise one
    uint32_t expected;
};

const FaultCase kFaults[] = {
    {"WriteToAddressZero", WriteToAddressZero, 0, kAccessViolation},
    {"RaiseDotNetCode", RaiseContextCode, 0xE0434352u, 0xE0434352u},
    {"RaiseMsvcCppCode", RaiseContextCode, 0xE06D7363u, 0xE06D7363u},
    {"RaiseApplicationCode", RaiseContextCode, 0xE0000001u, 0xE0000001u},
    {"RaiseNoncontinuable", RaiseNoncontinuable, 0xE0001234u, 0xE0001234u},
    {"IntegerDivideByZero", DivideByZero, 0, AsReported(EXCEPTION_INT_DIVIDE_BY_ZERO)},
    {"IllegalInstruction", IllegalInstruction, 0, EXCEPTION_ILLEGAL_INSTRUCTION},
    {"PrivilegedInstruction", PrivilegedInstruction, 0, AsReported(EXCEPTION_PRIV_INSTRUCTION)},
    {"Breakpoint", Breakpoint, 0, EXCEPTION_BREAKPOINT},
    {"FaultFortyFramesDown", DeepFault, 0, kAccessViolation},
    {"ClobberingCallee", ClobberingCallee, 0, kAccessViolation},
    {"ClobberingFaultDeepDown", DeepClobberingFault, 0, kAccessViolation},
};

class ExceptionGuardFault : public ::testing::TestWithParam<FaultCase> {};

TEST_P(ExceptionGuardFault, IsCaughtWithItsCode) {
    const FaultCase& fault = GetParam();
    SKIP_CLOBBERED_STACK_UNDER_EMULATION(fault.call);
    DWORD raised = fault.raised;
    uint32_t code = kUntouched;
    EXPECT_FALSE(platform::CallGuarded(fault.call, &raised, code));
    EXPECT_EQ(code, fault.expected) << std::hex << code;
}

TEST_P(ExceptionGuardFault, LeavesTheExceptionChainAsItWas) {
    const FaultCase& fault = GetParam();
    SKIP_CLOBBERED_STACK_UNDER_EMULATION(fault.call);
    void* const chain = ExceptionChain();
    DWORD raised = fault.raised;
    uint32_t code = kUntouched;
    platform::CallGuarded(fault.call, &raised, code);
    EXPECT_EQ(ExceptionChain(), chain);
}

INSTANTIATE_TEST_SUITE_P(Kinds, ExceptionGuardFault, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

// --- Normal returns and exceptions the callee handles itself -----------------------------------

TEST(ExceptionGuard, CalleeThatReturnsAnswersTrueAndLeavesTheCodeAlone) {
    int calls = 0;
    uint32_t code = kUntouched;
    EXPECT_TRUE(platform::CallGuarded(ReturnNormally, &calls, code));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(code, kUntouched);
}

struct InnerResult {
    bool returned = true;
    uint32_t code = kUntouched;
};

void CatchOwnFault(void* context) {
    auto& inner = *static_cast<InnerResult*>(context);
    inner.returned = platform::CallGuarded(WriteToAddressZero, nullptr, inner.code);
}

TEST(ExceptionGuard, CalleeThatHandlesItsOwnFaultReturnsTrue) {
    InnerResult inner;
    uint32_t code = kUntouched;
    EXPECT_TRUE(platform::CallGuarded(CatchOwnFault, &inner, code));
    EXPECT_EQ(code, kUntouched);
    EXPECT_FALSE(inner.returned);
    EXPECT_EQ(inner.code, kAccessViolation);
}

// The callee's own C++ exception, thrown through frames with destructors and caught inside it.
struct CppTrace {
    int destroyed = 0;
    std::string caught;
};

struct Counted {
    int* count;
    ~Counted() { ++*count; }
};

__attribute__((noinline)) void ThrowThrough(int depth, CppTrace& trace) {
    Counted counted{&trace.destroyed};
    if (depth == 0) throw std::runtime_error("thrown inside");
    ThrowThrough(depth - 1, trace);
}

void CatchOwnCppException(void* context) {
    auto& trace = *static_cast<CppTrace*>(context);
    try {
        ThrowThrough(5, trace);
    } catch (const std::runtime_error& error) {
        trace.caught = error.what();
    }
}

TEST(ExceptionGuard, CalleeThatCatchesItsOwnCppExceptionReturnsTrue) {
    CppTrace trace;
    uint32_t code = kUntouched;
    EXPECT_TRUE(platform::CallGuarded(CatchOwnCppException, &trace, code));
    EXPECT_EQ(code, kUntouched);
    EXPECT_EQ(trace.caught, "thrown inside");
    EXPECT_EQ(trace.destroyed, 6);
}

#if defined(__x86_64__)
constexpr uint32_t kGccCppException = 0x20474343u;  // what GCC's C++ throw raises on x64

void ThrowUncaught(void*) { throw 42; }

void ThrowUncaughtThroughDestructors(void* context) { ThrowThrough(4, *static_cast<CppTrace*>(context)); }

// GCC raises its C++ exceptions as structured ones on x64; one that escapes is caught like any other,
// also through frames that have destructors to run. Each on its own thread, since the runtime counts
// that thread's exception as uncaught from then on.
TEST(ExceptionGuard, CppExceptionThatEscapesTheCalleeIsCaughtWithGccsCode) {
    CppTrace trace;
    for (void (*call)(void*) : {ThrowUncaught, ThrowUncaughtThroughDestructors}) {
        bool returned = true;
        uint32_t code = kUntouched;
        std::thread([&] { returned = platform::CallGuarded(call, &trace, code); }).join();
        EXPECT_FALSE(returned);
        EXPECT_EQ(code, kGccCppException) << std::hex << code;
    }
}
#endif

// longjmp unwinds the frames it leaves: the guard lets that unwind pass and drops out of the chain.
void JumpOut(void* context) { std::longjmp(*static_cast<std::jmp_buf*>(context), 1); }

TEST(ExceptionGuard, LongjmpOutOfTheCalleeLeavesThroughTheGuard) {
    void* const chain = ExceptionChain();
    std::jmp_buf target;
    uint32_t code = kUntouched;
    if (setjmp(target) == 0) {
        platform::CallGuarded(JumpOut, &target, code);
        ADD_FAILURE() << "the guard returned";
    }
    EXPECT_EQ(code, kUntouched);
    EXPECT_EQ(ExceptionChain(), chain);
}

// --- Nesting --------------------------------------------------------------------------------------

struct Nest {
    int depth;            // guards still to open below this one
    bool faultAfter;      // each level faults after its inner guard caught
    std::vector<bool> returned;
    std::vector<uint32_t> codes;
};

void OpenNestedGuard(void* context) {
    auto& nest = *static_cast<Nest*>(context);
    const int level = nest.depth--;
    if (level == 0) {
        WriteToAddressZero(nullptr);
        return;
    }
    uint32_t code = kUntouched;
    const bool returned = platform::CallGuarded(OpenNestedGuard, &nest, code);
    nest.returned.push_back(returned);
    nest.codes.push_back(code);
    if (nest.faultAfter) {
        DWORD raised = 0xE0000000u | static_cast<DWORD>(level);
        RaiseContextCode(&raised);
    }
}

TEST(ExceptionGuard, InnermostGuardCatchesAndOuterGuardsSeeNormalReturns) {
    Nest nest{5, false, {}, {}};
    uint32_t code = kUntouched;
    EXPECT_TRUE(platform::CallGuarded(OpenNestedGuard, &nest, code));
    EXPECT_EQ(code, kUntouched);
    ASSERT_EQ(nest.returned.size(), 5u);
    EXPECT_FALSE(nest.returned[0]);
    EXPECT_EQ(nest.codes[0], kAccessViolation);
    for (size_t i = 1; i < nest.returned.size(); ++i) {
        EXPECT_TRUE(nest.returned[i]) << i;
        EXPECT_EQ(nest.codes[i], kUntouched) << i;
    }
}

TEST(ExceptionGuard, EachGuardCatchesWhatItsOwnCalleeRaisesAfterAnInnerCatch) {
    Nest nest{5, true, {}, {}};
    uint32_t code = kUntouched;
    EXPECT_FALSE(platform::CallGuarded(OpenNestedGuard, &nest, code));
    EXPECT_EQ(code, 0xE0000005u);
    ASSERT_EQ(nest.returned.size(), 5u);
    EXPECT_EQ(nest.codes[0], kAccessViolation);
    for (size_t i = 1; i < nest.codes.size(); ++i) {
        EXPECT_FALSE(nest.returned[i]) << i;
        EXPECT_EQ(nest.codes[i], 0xE0000000u | i) << i;
    }
}

void ReturnThenFault(void* context) {
    auto& inner = *static_cast<InnerResult*>(context);
    int calls = 0;
    inner.returned = platform::CallGuarded(ReturnNormally, &calls, inner.code);
    WriteToAddressZero(nullptr);
}

TEST(ExceptionGuard, OuterGuardCatchesAfterAnInnerGuardReturnedNormally) {
    InnerResult inner;
    uint32_t code = kUntouched;
    EXPECT_FALSE(platform::CallGuarded(ReturnThenFault, &inner, code));
    EXPECT_EQ(code, kAccessViolation);
    EXPECT_TRUE(inner.returned);
    EXPECT_EQ(inner.code, kUntouched);
}

// The host's code, run outside an inner guard, raises: the inner guard lets it pass to the outer.
struct HostCallInside {
    platform::GuardedCall state;
    void (*host)(void*);
    int afterHost = 0;
};

void RunHostCode(void* context) {
    auto& inside = *static_cast<HostCallInside*>(context);
    platform::CallOutsideGuard(inside.state, inside.host, nullptr);
    ++inside.afterHost;
}

void GuardedWithHostCode(void* context) {
    auto& inside = *static_cast<HostCallInside*>(context);
    platform::CallGuarded(RunHostCode, context, inside.state);
}

TEST(ExceptionGuard, TheHostsCodeInsideAGuardedCallIsNotItsToCatch) {
    HostCallInside inside;
    inside.host = WriteToAddressZero;
    uint32_t code = kUntouched;
    EXPECT_FALSE(platform::CallGuarded(GuardedWithHostCode, &inside, code));
    EXPECT_EQ(code, kAccessViolation);
    EXPECT_EQ(inside.afterHost, 0);
    EXPECT_EQ(inside.state.exceptionCode, 0u);
    // Once the host's code has returned, the guard catches again.
    HostCallInside returning;
    returning.host = [](void*) {};
    auto hostThenFault = [](void* context) {
        RunHostCode(context);
        WriteToAddressZero(nullptr);
    };
    EXPECT_FALSE(platform::CallGuarded(hostThenFault, &returning, returning.state));
    EXPECT_EQ(returning.state.exceptionCode, kAccessViolation);
    EXPECT_EQ(returning.afterHost, 1);
}

// A module may call back from a thread of its own: that lifts nothing on the guarded thread.
struct OtherThreadScene {
    platform::GuardedCall state;
    std::atomic<int> phase{0};
    bool innerReturned = true;
};

TEST(ExceptionGuard, TheHostsCodeOnAnotherThreadLiftsNoGuard) {
    OtherThreadScene scene;
    std::thread other([&] {
        while (scene.phase != 1) std::this_thread::yield();
        platform::CallOutsideGuard(scene.state, [](void* context) {
            auto& step = *static_cast<std::atomic<int>*>(context);
            step = 2;
            while (step != 3) std::this_thread::yield();
        }, &scene.phase);
    });
    // Inside an outer guard, which would catch what the inner one let pass.
    uint32_t code = kUntouched;
    const bool returned = platform::CallGuarded([](void* context) {
        auto& inner = *static_cast<OtherThreadScene*>(context);
        inner.innerReturned = platform::CallGuarded([](void* c) {
            auto& step = *static_cast<std::atomic<int>*>(c);
            step = 1;
            while (step != 2) std::this_thread::yield();
            RaiseException(0xE0001234u, 0, 0, nullptr);
        }, &inner.phase, inner.state);
    }, &scene, code);
    scene.phase = 3;
    other.join();
    EXPECT_TRUE(returned);
    EXPECT_EQ(code, kUntouched);
    EXPECT_FALSE(scene.innerReturned);
    EXPECT_EQ(scene.state.exceptionCode, 0xE0001234u);
}

// --- Registers and stack ---------------------------------------------------------------------------

struct RegisterCase {
    const char* name;
    void (*call)(void*);
    bool returns;
    uint32_t expected;
};

const RegisterCase kRegisterCases[] = {
    {"ReturnNormally", ReturnNormally, true, kUntouched},
    {"ClobberAndReturn", GuardTestClobberAndReturn, true, kUntouched},
    {"ClobberingCallee", ClobberingCallee, false, kAccessViolation},
    {"ClobberingFaultDeepDown", DeepClobberingFault, false, kAccessViolation},
    {"FaultFortyFramesDown", DeepFault, false, kAccessViolation},
    {"CatchOwnFault", CatchOwnFault, true, kUntouched},
};

#if defined(__x86_64__)
const char* const kRegisterNames[kRegisterSlots] = {
    "rbx", "rbp", "rsi", "rdi", "r12", "r13", "r14", "r15", "xmm6.lo", "xmm6.hi", "xmm7.lo", "xmm7.hi",
    "xmm8.lo", "xmm8.hi", "xmm9.lo", "xmm9.hi", "xmm10.lo", "xmm10.hi", "xmm11.lo", "xmm11.hi", "xmm12.lo",
    "xmm12.hi", "xmm13.lo", "xmm13.hi", "xmm14.lo", "xmm14.hi", "xmm15.lo", "xmm15.hi"};
#else
const char* const kRegisterNames[kRegisterSlots] = {"ebx", "esi", "edi", "ebp"};
#endif

class ExceptionGuardRegisters : public ::testing::TestWithParam<RegisterCase> {};

TEST_P(ExceptionGuardRegisters, EveryCalleeSavedRegisterComesBack) {
    const RegisterCase& test = GetParam();
    SKIP_CLOBBERED_STACK_UNDER_EMULATION(test.call);
    InnerResult inner;
    RegisterProbe probe{};
    for (size_t i = 0; i < kRegisterSlots; ++i)
        probe.before[i] = static_cast<uintptr_t>(0x1234567890ABCDEFull * (i + 1) + i);
    probe.guard = platform::CallGuarded;
    probe.call = test.call;
    probe.context = test.call == CatchOwnFault ? static_cast<void*>(&inner) : nullptr;
    probe.code = kUntouched;
    GuardTestProbeRegisters(&probe);
    EXPECT_EQ(probe.answer, test.returns ? 1u : 0u);
    EXPECT_EQ(probe.code, test.expected) << std::hex << probe.code;
    EXPECT_EQ(probe.canary, static_cast<uintptr_t>(0x5EC0DE5A5EC0DE5Aull)) << "stack pointer moved";
    EXPECT_EQ(probe.flags & 0x400, 0u) << "direction flag left set";
    for (size_t i = 0; i < kRegisterSlots; ++i)
        EXPECT_EQ(probe.after[i], probe.before[i]) << kRegisterNames[i];
}

INSTANTIATE_TEST_SUITE_P(Callees, ExceptionGuardRegisters, ::testing::ValuesIn(kRegisterCases),
                         [](const ::testing::TestParamInfo<RegisterCase>& info) {
                             return std::string(info.param.name);
                         });

// Compiled code rather than the probe: enough locals live across the guarded call that the
// optimizer keeps them in callee-saved registers, then a fault deep in a callee that clobbered them.
TEST(ExceptionGuard, CallerLocalsSurviveAClobberingFaultDeepDown) {
    SKIP_CLOBBERED_STACK_UNDER_EMULATION(DeepClobberingFault);
    volatile uintptr_t integers[10] = {11, 22, 33, 44, 55, 66, 77, 88, 99, 111};
    volatile double reals[10] = {1.5, 2.5, 3.5, 4.5, 5.5, 6.5, 7.5, 8.5, 9.5, 10.5};
    const uintptr_t i0 = integers[0], i1 = integers[1], i2 = integers[2], i3 = integers[3], i4 = integers[4],
                    i5 = integers[5], i6 = integers[6], i7 = integers[7], i8 = integers[8], i9 = integers[9];
    const double r0 = reals[0], r1 = reals[1], r2 = reals[2], r3 = reals[3], r4 = reals[4], r5 = reals[5],
                 r6 = reals[6], r7 = reals[7], r8 = reals[8], r9 = reals[9];
    uint32_t code = kUntouched;
    const bool returned = platform::CallGuarded(DeepClobberingFault, nullptr, code);
    EXPECT_FALSE(returned);
    EXPECT_EQ(code, kAccessViolation);
    const uintptr_t integersAfter[10] = {i0, i1, i2, i3, i4, i5, i6, i7, i8, i9};
    const double realsAfter[10] = {r0, r1, r2, r3, r4, r5, r6, r7, r8, r9};
    for (int i = 0; i < 10; ++i) {
        const uintptr_t integer = integers[i];
        const double real = reals[i];
        EXPECT_EQ(integersAfter[i], integer) << i;
        EXPECT_EQ(realsAfter[i], real) << i;
    }
}

// --- Threads and repetition -----------------------------------------------------------------------

// Where the callee's frame lies: the same place on every call unless the guard leaks stack.
struct FrameTrace {
    uintptr_t first = 0;
    int moved = 0;
    int calls = 0;
};

__attribute__((noinline)) void NoteFrameThenFault(void* context) {
    auto& trace = *static_cast<FrameTrace*>(context);
    volatile int local = 0;
    const auto address = reinterpret_cast<uintptr_t>(&local);
    if (trace.calls++ == 0) trace.first = address;
    else if (address != trace.first) ++trace.moved;
    WriteToAddressZero(nullptr);
}

TEST(ExceptionGuard, TenThousandCatchesNeitherGrowTheStackNorLeaveRecords) {
    void* const chain = ExceptionChain();
    FrameTrace trace;
    int failures = 0;
    for (int i = 0; i < 10000; ++i) {
        uint32_t code = kUntouched;
        if (platform::CallGuarded(NoteFrameThenFault, &trace, code) || code != kAccessViolation) ++failures;
    }
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(trace.calls, 10000);
    EXPECT_EQ(trace.moved, 0);
    EXPECT_EQ(ExceptionChain(), chain);
}

TEST(ExceptionGuard, TenThousandNestedCatchesStayCorrect) {
    int failures = 0;
    for (int i = 0; i < 10000; ++i) {
        Nest nest{3, (i & 1) != 0, {}, {}};
        uint32_t code = kUntouched;
        const bool returned = platform::CallGuarded(OpenNestedGuard, &nest, code);
        const bool expected = (i & 1) == 0;
        if (returned != expected || code != (expected ? kUntouched : 0xE0000003u) || nest.codes.size() != 3 ||
            nest.codes[0] != kAccessViolation)
            ++failures;
    }
    EXPECT_EQ(failures, 0);
}

// Several threads at once, each through every kind, nested guards and normal returns.
TEST(ExceptionGuard, ManyThreadsAtOnce) {
    constexpr int kThreads = 8;
    constexpr int kRounds = 1500;
    std::atomic<int> ready{0};
    std::vector<int> failures(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ++ready;
            while (ready.load() < kThreads) std::this_thread::yield();
            void* const chain = ExceptionChain();
            for (int round = 0; round < kRounds; ++round) {
                uint32_t code = kUntouched;
                switch (round % 4) {
                case 0: {
                    DWORD raised = 0xE0000000u | static_cast<DWORD>(t << 16) | static_cast<DWORD>(round);
                    if (platform::CallGuarded(RaiseContextCode, &raised, code) || code != raised) ++failures[t];
                    break;
                }
                case 1: {
                    const FaultCase& fault = kFaults[(round / 4) % (sizeof(kFaults) / sizeof(kFaults[0]))];
                    if (kUnderEmulation && (fault.call == ClobberingCallee || fault.call == DeepClobberingFault)) break;
                    DWORD raised = fault.raised;
                    if (platform::CallGuarded(fault.call, &raised, code) || code != fault.expected) ++failures[t];
                    break;
                }
                case 2: {
                    InnerResult inner;
                    if (!platform::CallGuarded(CatchOwnFault, &inner, code) || code != kUntouched ||
                        inner.code != kAccessViolation)
                        ++failures[t];
                    break;
                }
                default: {
                    int calls = 0;
                    if (!platform::CallGuarded(ReturnNormally, &calls, code) || calls != 1 || code != kUntouched)
                        ++failures[t];
                }
                }
            }
            if (ExceptionChain() != chain) ++failures[t];
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
}

}  // namespace

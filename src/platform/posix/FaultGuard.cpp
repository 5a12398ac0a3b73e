// platform::CallGuarded on Linux. A fault (SIGSEGV, SIGBUS, SIGFPE, SIGILL) raised on a thread
// while it runs a guarded call jumps back out of the call; a fault anywhere else goes to the
// handler that was there before, so the host's own handling of its faults is unchanged. The
// handlers are installed while at least one hold lasts, and put back afterwards.
#include <csignal>
#include <mutex>

#include <atomic>
#include <pthread.h>
#include <ucontext.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

#include "platform/Platform.h"
#include "platform/posix/FaultGuard.h"

namespace platform {
namespace {

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};
constexpr int kSignalCount = sizeof kFaultSignals / sizeof kFaultSignals[0];

// Lives in CallGuarded's frame: the callee's stack lies below it.
struct Guard {
    // __builtin_setjmp's: a few stores where sigsetjmp is a library call, for a guard around
    // every header of a listing. The jump back restores nothing but the frame: CallGuarded puts
    // back the registers it saved, and the handler the signal mask and floating-point control.
    void* jump[5];
    GuardedCall* state;
    Guard* outer;  // the guarded call that this one runs in, if any
};

// initial-exec: read inside a signal handler, so no lazy allocation may stand behind it.
thread_local Guard* activeGuard __attribute__((tls_model("initial-exec"))) = nullptr;

std::mutex installLock;
std::atomic<int> holds{0};                // changed from or to 0 only under installLock
struct sigaction previous[kSignalCount];  // written under installLock before our handler is live

int SignalIndex(int signal) {
    for (int i = 0; i < kSignalCount; ++i)
        if (kFaultSignals[i] == signal) return i;
    return -1;
}

// Where the faulting code's stack stood; 0 where this build cannot tell.
uintptr_t FaultStackPointer(const void* context) {
    const auto& registers = static_cast<const ucontext_t*>(context)->uc_mcontext;
#if defined(__x86_64__)
    return uintptr_t(registers.gregs[REG_RSP]);
#elif defined(__i386__)
    return uintptr_t(registers.gregs[REG_ESP]);
#elif defined(__aarch64__)
    return uintptr_t(registers.sp);
#else
    (void)registers;
    return 0;
#endif
}

// The kernel gives a handler the floating-point control of a fresh thread and puts the
// interrupted one back only when the handler returns: a jump out takes it back itself, with no
// exception left pending.
void RestoreFloatingPointControl(const ucontext_t& interrupted) {
#if defined(__x86_64__)
    if (const auto* state = interrupted.uc_mcontext.fpregs) {
        const uint32_t mxcsr = state->mxcsr & ~0x3Fu;
        const uint16_t control = state->cwd;
        asm volatile("fnclex\n\tfldcw %0\n\tldmxcsr %1" : : "m"(control), "m"(mxcsr));
    }
#else
    (void)interrupted;
#endif
}

void OnFault(int signal, siginfo_t* info, void* context) {
    Guard* guard = activeGuard;
    // A guard that lies below the fault was left without returning (a longjmp of the host's
    // through it): its frame is gone, and nothing in it can be trusted.
    const uintptr_t stack = FaultStackPointer(context);
    if (stack != 0 && stack > uintptr_t(guard)) guard = nullptr;
    // A guard lifted for the host's code passes the fault on to the guards around it.
    while (guard && guard->state->hostCalls) guard = guard->outer;
    if (guard) {
        guard->state->exceptionCode = uint32_t(signal);
        const ucontext_t& interrupted = *static_cast<const ucontext_t*>(context);
        RestoreFloatingPointControl(interrupted);
        // The jump leaves the signal mask alone: the one from before the fault is put back here.
        pthread_sigmask(SIG_SETMASK, &interrupted.uc_sigmask, nullptr);
#if defined(__SANITIZE_ADDRESS__)
        // The frames left behind, from the fault's stack (and the red zone below it) up to the
        // guard: their shadow would trip the calls that use that stack next.
        if (stack != 0)
            __asan_unpoison_memory_region(reinterpret_cast<void*>(stack - 128), uintptr_t(guard) - (stack - 128));
#endif
        __builtin_longjmp(guard->jump, 1);
    }
    // Not a guarded call's fault: the handler from before decides, as if we were not here.
    const struct sigaction& before = previous[SignalIndex(signal)];
    if (before.sa_flags & SA_SIGINFO) {
        before.sa_sigaction(signal, info, context);
    } else if (before.sa_handler != SIG_DFL && before.sa_handler != SIG_IGN) {
        before.sa_handler(signal);
    } else if (before.sa_handler == SIG_IGN && info && info->si_code <= 0) {
        // Sent by a process or thread, not raised by a fault: ignored, as the host asked.
    } else {
        // The default action: a fault cannot be ignored. Raised again once this handler returns.
        struct sigaction fallback {};
        fallback.sa_handler = SIG_DFL;
        sigemptyset(&fallback.sa_mask);
        sigaction(signal, &fallback, nullptr);
        raise(signal);
    }
}

void Install() {
    struct sigaction ours {};
    ours.sa_sigaction = OnFault;
    ours.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&ours.sa_mask);
    // Read first, install second: a fault elsewhere may reach OnFault the moment it is installed.
    for (int i = 0; i < kSignalCount; ++i) sigaction(kFaultSignals[i], nullptr, &previous[i]);
    for (int i = 0; i < kSignalCount; ++i) sigaction(kFaultSignals[i], &ours, nullptr);
}

void Uninstall() {
    for (int i = 0; i < kSignalCount; ++i) {
        struct sigaction current {};
        sigaction(kFaultSignals[i], nullptr, &current);
        // A handler that the host set in the meantime stays.
        if ((current.sa_flags & SA_SIGINFO) && current.sa_sigaction == OnFault)
            sigaction(kFaultSignals[i], &previous[i], nullptr);
    }
}

}  // namespace

void HoldFaultGuard() {
    // Installed already: one more hold, without a lock.
    for (int count = holds.load(); count > 0;)
        if (holds.compare_exchange_weak(count, count + 1)) return;
    std::lock_guard<std::mutex> lock(installLock);
    if (holds.load() == 0) Install();
    ++holds;
}

void ReleaseFaultGuard() {
    for (int count = holds.load(); count > 1;)
        if (holds.compare_exchange_weak(count, count - 1)) return;
    std::lock_guard<std::mutex> lock(installLock);
    if (--holds == 0) Uninstall();
}

const char* FaultSignalName(uint32_t code) {
    switch (code) {
        case SIGSEGV: return "Segmentation fault";
        case SIGBUS: return "Bus error";
        case SIGFPE: return "Floating-point exception";
        case SIGILL: return "Illegal instruction";
        default: return nullptr;
    }
}

// Not instrumented: the guard must lie in this very frame, where OnFault looks for it.
__attribute__((no_sanitize_address)) bool CallGuarded(void (*call)(void* context), void* context,
                                                      GuardedCall& state) {
    Guard guard;
    guard.state = &state;
    guard.outer = activeGuard;  // a guarded call may itself run one
    bool returned = true;
    if (__builtin_setjmp(guard.jump) == 0) {
        activeGuard = &guard;
        call(context);
    } else {
        returned = false;
    }
    activeGuard = guard.outer;
    return returned;
}

bool CallGuarded(void (*call)(void* context), void* context, uint32_t& exceptionCode) {
    FaultGuardHold hold;
    GuardedCall state;
    if (CallGuarded(call, context, state)) return true;
    exceptionCode = state.exceptionCode;
    return false;
}

void CallOutsideGuard(GuardedCall& state, void (*call)(void* context), void* context) {
    // Only the thread that runs the guarded call is under its guard.
    const bool inside = activeGuard && activeGuard->state == &state;
    if (inside) ++state.hostCalls;
    call(context);
    if (inside) --state.hostCalls;
}

}  // namespace platform

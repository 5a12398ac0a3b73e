// platform::CallGuarded on Linux. A fault (SIGSEGV, SIGBUS, SIGFPE, SIGILL) raised on a thread
// while it runs a guarded call jumps back out of the call; a fault anywhere else goes to the
// handler that was there before, so the host's own handling of its faults is unchanged. The
// handlers are only installed while at least one guarded call runs, and put back afterwards.
#include <csetjmp>
#include <csignal>
#include <mutex>

#include "platform/Platform.h"
#include "platform/posix/FaultGuard.h"

namespace platform {
namespace {

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};
constexpr int kSignalCount = sizeof kFaultSignals / sizeof kFaultSignals[0];

struct Guard {
    sigjmp_buf jump;
    volatile sig_atomic_t signal = 0;
};

// initial-exec: read inside a signal handler, so no lazy allocation may stand behind it.
thread_local Guard* activeGuard __attribute__((tls_model("initial-exec"))) = nullptr;

std::mutex installLock;
int guardedCalls = 0;                   // under installLock
struct sigaction previous[kSignalCount];  // written under installLock before our handler is live

int SignalIndex(int signal) {
    for (int i = 0; i < kSignalCount; ++i)
        if (kFaultSignals[i] == signal) return i;
    return -1;
}

void OnFault(int signal, siginfo_t* info, void* context) {
    if (Guard* guard = activeGuard) {
        guard->signal = signal;
        siglongjmp(guard->jump, 1);
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
    std::lock_guard<std::mutex> lock(installLock);
    if (guardedCalls++ > 0) return;
    struct sigaction ours {};
    ours.sa_sigaction = OnFault;
    ours.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&ours.sa_mask);
    // Read first, install second: a fault elsewhere may reach OnFault the moment it is installed.
    for (int i = 0; i < kSignalCount; ++i) sigaction(kFaultSignals[i], nullptr, &previous[i]);
    for (int i = 0; i < kSignalCount; ++i) sigaction(kFaultSignals[i], &ours, nullptr);
}

void Uninstall() {
    std::lock_guard<std::mutex> lock(installLock);
    if (--guardedCalls > 0) return;
    for (int i = 0; i < kSignalCount; ++i) {
        struct sigaction current {};
        sigaction(kFaultSignals[i], nullptr, &current);
        // A handler that the host set in the meantime stays.
        if ((current.sa_flags & SA_SIGINFO) && current.sa_sigaction == OnFault)
            sigaction(kFaultSignals[i], &previous[i], nullptr);
    }
}

}  // namespace

const char* FaultSignalName(uint32_t code) {
    switch (code) {
        case SIGSEGV: return "Segmentation fault";
        case SIGBUS: return "Bus error";
        case SIGFPE: return "Floating-point exception";
        case SIGILL: return "Illegal instruction";
        default: return nullptr;
    }
}

bool CallGuarded(void (*call)(void* context), void* context, uint32_t& exceptionCode) {
    Guard guard;
    Guard* const outer = activeGuard;  // a guarded call may itself run one
    Install();
    bool returned = true;
    if (sigsetjmp(guard.jump, 1) == 0) {
        activeGuard = &guard;
        call(context);
    } else {
        returned = false;
        exceptionCode = uint32_t(guard.signal);
    }
    activeGuard = outer;
    Uninstall();
    return returned;
}

}  // namespace platform

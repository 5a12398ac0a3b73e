// platform::CallGuarded on Linux: a fault signal raised on the guarded thread ends the call with
// the signal as its code; faults on other threads, and after the call, reach the process's own
// handler, which is in place again once no guarded call runs.
#if !defined(_WIN32)
#include <gtest/gtest.h>

#include <atomic>
#include <sys/mman.h>
#include <unistd.h>

#include <csetjmp>
#include <csignal>
#include <thread>
#include <vector>

#include "platform/Platform.h"

namespace {

std::atomic<int> hostHandlerCalls{0};
void HostHandler(int) { ++hostHandlerCalls; }

// The test process's own handlers, as a host installs them; put back as they were afterwards.
class HostHandlers {
public:
    HostHandlers() {
        struct sigaction ours {};
        ours.sa_handler = HostHandler;
        sigemptyset(&ours.sa_mask);
        for (size_t i = 0; i < 4; ++i) sigaction(kSignals[i], &ours, &saved_[i]);
        hostHandlerCalls = 0;
    }
    ~HostHandlers() {
        for (size_t i = 0; i < 4; ++i) sigaction(kSignals[i], &saved_[i], nullptr);
    }
    static bool InPlace() {
        for (int signal : kSignals) {
            struct sigaction current {};
            sigaction(signal, nullptr, &current);
            if ((current.sa_flags & SA_SIGINFO) || current.sa_handler != HostHandler) return false;
        }
        return true;
    }
    static constexpr int kSignals[4] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};

private:
    struct sigaction saved_[4];
};

// A page that may not be touched: writing there is a real fault, one that the sanitizers leave
// to the signal (they would stop a null write themselves).
volatile int* ForbiddenPage() {
    static void* const page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return static_cast<volatile int*>(page);
}
void WriteToForbiddenPage(void*) { *ForbiddenPage() = 1; }
void RaiseSignal(void* signal) { raise(*static_cast<int*>(signal)); }
void Trap(void*) { __builtin_trap(); }
void ReturnNormally(void* calls) { ++*static_cast<int*>(calls); }

struct Nest {
    bool innerReturned = true;
    uint32_t innerCode = 0;
    int afterInner = 0;
};
void FaultInsideNestedGuard(void* context) {
    auto& nest = *static_cast<Nest*>(context);
    nest.innerReturned = platform::CallGuarded(WriteToForbiddenPage, nullptr, nest.innerCode);
    ++nest.afterInner;
}
void FaultOnAnotherThread(void*) { std::thread([] { raise(SIGSEGV); }).join(); }

// A guarded call that runs the host's code outside its guard, which faults there.
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

sigjmp_buf escape;
void LeaveByJump(void*) { siglongjmp(escape, 1); }
void ExitOnFault(int) { _exit(7); }

}  // namespace

TEST(FaultGuard, FaultsEndTheGuardedCallOnlyAndTheHostKeepsItsHandlers) {
    HostHandlers host;
    int segv = SIGSEGV, bus = SIGBUS, fpe = SIGFPE, ill = SIGILL, calls = 0;
    const struct {
        const char* what;
        void (*call)(void*);
        void* context;
        bool returns;
        uint32_t code;
    } cases[] = {
        {"write to a forbidden page", WriteToForbiddenPage, nullptr, false, SIGSEGV},
        {"trap instruction", Trap, nullptr, false, SIGILL},
        {"SIGSEGV", RaiseSignal, &segv, false, SIGSEGV},
        {"SIGBUS", RaiseSignal, &bus, false, SIGBUS},
        {"SIGFPE", RaiseSignal, &fpe, false, SIGFPE},
        {"SIGILL", RaiseSignal, &ill, false, SIGILL},
        {"no fault", ReturnNormally, &calls, true, 12345},
        {"fault on another thread", FaultOnAnotherThread, nullptr, true, 12345},
    };
    for (const auto& c : cases) {
        uint32_t code = 12345;
        EXPECT_EQ(platform::CallGuarded(c.call, c.context, code), c.returns) << c.what;
        EXPECT_EQ(code, c.code) << c.what;
        EXPECT_TRUE(HostHandlers::InPlace()) << c.what;
    }
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(hostHandlerCalls, 1);  // only the other thread's fault reached the host
    raise(SIGFPE);                    // and after the calls, faults are the host's again
    EXPECT_EQ(hostHandlerCalls, 2);

    Nest nest;
    uint32_t code = 12345;
    EXPECT_TRUE(platform::CallGuarded(FaultInsideNestedGuard, &nest, code));
    EXPECT_FALSE(nest.innerReturned);
    EXPECT_EQ(nest.innerCode, uint32_t(SIGSEGV));
    EXPECT_EQ(nest.afterInner, 1);
    EXPECT_EQ(code, 12345u);
    EXPECT_TRUE(HostHandlers::InPlace());
}

TEST(FaultGuard, ConcurrentGuardedFaultsStayOnTheirThreads) {
    HostHandlers host;
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                uint32_t code = 0;
                int calls = 0;
                if ((i + t) % 2 == 0) {
                    if (platform::CallGuarded(WriteToForbiddenPage, nullptr, code) || code != SIGSEGV) ++wrong;
                } else if (!platform::CallGuarded(ReturnNormally, &calls, code) || calls != 1) {
                    ++wrong;
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(hostHandlerCalls, 0);
    EXPECT_TRUE(HostHandlers::InPlace());
}

TEST(FaultGuard, FaultTextsNameTheSignal) {
    EXPECT_EQ(platform::ExceptionText(SIGSEGV), u"Segmentation fault\n");
    EXPECT_EQ(platform::ExceptionText(SIGBUS), u"Bus error\n");
    EXPECT_EQ(platform::ExceptionText(SIGFPE), u"Floating-point exception\n");
    EXPECT_EQ(platform::ExceptionText(SIGILL), u"Illegal instruction\n");
    EXPECT_EQ(platform::ExceptionText(0xE0434352u), u".NET code has thrown an exception");
}
TEST(FaultGuard, FaultsElsewhereKeepTheDefaultAndIgnoredActions) {
    // Ignored before: a signal sent to another thread while a guarded call runs stays ignored.
    struct sigaction ignore {}, saved {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGFPE, &ignore, &saved);
    uint32_t code = 12345;
    auto sendFpeElsewhere = [](void*) { std::thread([] { raise(SIGFPE); }).join(); };
    EXPECT_TRUE(platform::CallGuarded(sendFpeElsewhere, nullptr, code));
    struct sigaction after {};
    sigaction(SIGFPE, nullptr, &after);
    EXPECT_EQ(after.sa_handler, SIG_IGN);
    sigaction(SIGFPE, &saved, nullptr);

    // The default action before: a real fault on another thread still ends the process with it.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto faultElsewhere = [](void*) { std::thread([] { *ForbiddenPage() = 1; }).join(); };
    EXPECT_EXIT(
        {
            signal(SIGSEGV, SIG_DFL);
            uint32_t ignored = 0;
            platform::CallGuarded(faultElsewhere, nullptr, ignored);
        },
        ::testing::KilledBySignal(SIGSEGV), "");
}

TEST(FaultGuard, AHoldKeepsTheHandlersBetweenCallsUntilTheLastRelease) {
    HostHandlers host;
    platform::HoldFaultGuard();
    EXPECT_FALSE(HostHandlers::InPlace());
    platform::HoldFaultGuard();
    uint32_t code = 12345;
    EXPECT_FALSE(platform::CallGuarded(WriteToForbiddenPage, nullptr, code));
    EXPECT_EQ(code, uint32_t(SIGSEGV));
    platform::ReleaseFaultGuard();
    EXPECT_FALSE(HostHandlers::InPlace());
    raise(SIGFPE);  // outside any guarded call: the host's, while ours is installed
    EXPECT_EQ(hostHandlerCalls, 1);
    platform::ReleaseFaultGuard();
    EXPECT_TRUE(HostHandlers::InPlace());
}

TEST(FaultGuard, TheHostsCodeInsideAGuardedCallFaultsAsWithoutTheGuard) {
    HostHandlers host;
    // Alone: the host's handler gets the fault, and the guarded call goes on.
    platform::FaultGuardHold hold;  // the form with a GuardedCall runs inside a hold
    HostCallInside alone;
    alone.host = [](void*) { raise(SIGFPE); };
    EXPECT_TRUE(platform::CallGuarded(RunHostCode, &alone, alone.state));
    EXPECT_EQ(hostHandlerCalls, 1);
    EXPECT_EQ(alone.afterHost, 1);
    // Inside another guarded call: that one catches it.
    HostCallInside nested;
    nested.host = WriteToForbiddenPage;
    uint32_t code = 12345;
    EXPECT_FALSE(platform::CallGuarded(GuardedWithHostCode, &nested, code));
    EXPECT_EQ(code, uint32_t(SIGSEGV));
    EXPECT_EQ(nested.afterHost, 0);
    EXPECT_EQ(hostHandlerCalls, 1);
}

// A module may call back from a thread of its own: that lifts nothing on the guarded thread.
TEST(FaultGuard, TheHostsCodeOnAnotherThreadLiftsNoGuard) {
    HostHandlers host;
    platform::FaultGuardHold hold;
    platform::GuardedCall state;
    std::atomic<int> phase{0};
    std::thread other([&] {
        while (phase != 1) std::this_thread::yield();
        platform::CallOutsideGuard(state, [](void* context) {
            auto& step = *static_cast<std::atomic<int>*>(context);
            step = 2;
            while (step != 3) std::this_thread::yield();
        }, &phase);
    });
    const bool returned = platform::CallGuarded([](void* context) {
        auto& step = *static_cast<std::atomic<int>*>(context);
        step = 1;
        while (step != 2) std::this_thread::yield();
        raise(SIGFPE);
    }, &phase, state);
    phase = 3;
    other.join();
    EXPECT_FALSE(returned);
    EXPECT_EQ(state.exceptionCode, uint32_t(SIGFPE));
    EXPECT_EQ(hostHandlerCalls, 0);
}

TEST(FaultGuard, AGuardLeftByALongJumpCatchesNothingAnyMore) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            signal(SIGFPE, ExitOnFault);
            uint32_t code = 0;
            if (sigsetjmp(escape, 1) == 0) platform::CallGuarded(LeaveByJump, nullptr, code);
            raise(SIGFPE);
        },
        ::testing::ExitedWithCode(7), "");
}

#if defined(__x86_64__)
// The floating-point control that the thread had before the fault: a handler runs with a fresh
// one, which a jump out of it would otherwise leave behind.
TEST(FaultGuard, AFaultLeavesTheFloatingPointControlAsItWas) {
    uint32_t mxcsr = 0, savedMxcsr = 0;
    uint16_t control = 0, savedControl = 0;
    asm volatile("stmxcsr %0\n\tfnstcw %1" : "=m"(savedMxcsr), "=m"(savedControl));
    const uint32_t rounding = (savedMxcsr & ~0x6000u) | 0x6000u;    // toward zero
    const uint16_t precision = uint16_t((savedControl & ~0x300u) | 0x200u);  // double precision
    asm volatile("ldmxcsr %0\n\tfldcw %1" : : "m"(rounding), "m"(precision));
    uint32_t code = 12345;
    EXPECT_FALSE(platform::CallGuarded(WriteToForbiddenPage, nullptr, code));
    asm volatile("stmxcsr %0\n\tfnstcw %1" : "=m"(mxcsr), "=m"(control));
    asm volatile("ldmxcsr %0\n\tfldcw %1" : : "m"(savedMxcsr), "m"(savedControl));
    EXPECT_EQ(mxcsr & ~0x3Fu, rounding & ~0x3Fu);
    EXPECT_EQ(control, precision);
}
#endif
#endif

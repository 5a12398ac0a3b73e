// Each thread's C++ exception state (the ABI's __cxa_get_globals), kept in a thread-local slot
// that this library takes when it is loaded and gives back when it is freed.
//
// The C++ runtime that mingw-w64 links statically keeps this state in emulated TLS, which takes
// a slot at the first exception thrown in the library and never gives it back. A process has
// 1,088 slots, so a host that loads and frees the library about a thousand times would run out.
// Linking this file replaces the runtime's definition: the linker then leaves out its own.
#include <windows.h>

#include <cxxabi.h>

namespace {

// Room for the runtime's record (the caught-exception chain and the uncaught count) and more.
struct ThreadState {
    void* words[4];
    ThreadState* next;
    ThreadState* previous;
};

DWORD slot = TLS_OUT_OF_INDEXES;
SRWLOCK stateLock = SRWLOCK_INIT;
ThreadState* states = nullptr;  // every thread's state, to be freed with the library
// Serves when there is no slot or no memory: the process is then in trouble anyway, and this
// keeps an exception in flight from dereferencing null.
ThreadState fallback;

ThreadState* StateOfThisThread() {
    if (slot == TLS_OUT_OF_INDEXES) return &fallback;
    if (auto* state = static_cast<ThreadState*>(TlsGetValue(slot))) return state;
    auto* state = static_cast<ThreadState*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(ThreadState)));
    if (!state) return &fallback;
    AcquireSRWLockExclusive(&stateLock);
    state->next = states;
    if (states) states->previous = state;
    states = state;
    ReleaseSRWLockExclusive(&stateLock);
    TlsSetValue(slot, state);
    return state;
}

void FreeStateOfThisThread() {
    if (slot == TLS_OUT_OF_INDEXES) return;
    auto* state = static_cast<ThreadState*>(TlsGetValue(slot));
    if (!state) return;
    AcquireSRWLockExclusive(&stateLock);
    if (state->previous) state->previous->next = state->next;
    else states = state->next;
    if (state->next) state->next->previous = state->previous;
    ReleaseSRWLockExclusive(&stateLock);
    TlsSetValue(slot, nullptr);
    HeapFree(GetProcessHeap(), 0, state);
}

// A TLS callback rather than DllMain, so that any library links this file and nothing else.
void NTAPI OnLibraryNotification(PVOID, DWORD reason, PVOID) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            slot = TlsAlloc();
            break;
        case DLL_THREAD_DETACH:
            FreeStateOfThisThread();
            break;
        case DLL_PROCESS_DETACH:
            while (ThreadState* state = states) {
                states = state->next;
                HeapFree(GetProcessHeap(), 0, state);
            }
            if (slot != TLS_OUT_OF_INDEXES) TlsFree(slot);
            slot = TLS_OUT_OF_INDEXES;
            break;
        default:
            break;
    }
}

}  // namespace

// Placed among the C runtime's TLS callbacks (.CRT$XLA ... .CRT$XLZ), which the loader calls.
extern "C" __attribute__((used, section(".CRT$XLM"))) const PIMAGE_TLS_CALLBACK morvaneExceptionGlobalsCallback =
    OnLibraryNotification;

namespace __cxxabiv1 {

extern "C" __cxa_eh_globals* __cxa_get_globals() _GLIBCXX_NOTHROW {
    return reinterpret_cast<__cxa_eh_globals*>(StateOfThisThread());
}

extern "C" __cxa_eh_globals* __cxa_get_globals_fast() _GLIBCXX_NOTHROW {
    return reinterpret_cast<__cxa_eh_globals*>(StateOfThisThread());
}

}  // namespace __cxxabiv1

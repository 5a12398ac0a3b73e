// Replaces the program's C++ allocation functions so that a chosen allocation fails. Libraries
// that share the program's C++ runtime (on Linux: every shared object it loads) fail with it.
#pragma once

namespace oom {

// Makes the allocation that comes nth from now fail (0: the next one); -1: none fails.
void FailAllocation(long nth);
// Lets every allocation succeed again; AllocationFailed still tells what happened.
void Disarm();
// Whether the armed failure has happened since the last FailAllocation.
bool AllocationFailed();

// Runs step(nth, disarm) with the nth allocation in it failing, for nth = 0, 1, 2 ... until a run
// completes without reaching its failure; answers the number of runs that failed an allocation.
// step calls disarm() after the work under test, so that its checks may allocate.
template <typename Step>
long ForEachFailingAllocation(Step step) {
    for (long nth = 0;; ++nth) {
        FailAllocation(nth);
        step(nth, [] { Disarm(); });
        Disarm();
        const bool failed = AllocationFailed();
        if (!failed) return nth;
    }
}

}  // namespace oom

#include "FailingAllocation.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace oom {
namespace {

std::atomic<long> countdown{-1};
std::atomic<bool> failed{false};

// True when this allocation is the one chosen to fail.
bool ChosenToFail() {
    long remaining = countdown.load();
    while (remaining >= 0) {
        if (countdown.compare_exchange_weak(remaining, remaining - 1)) {
            if (remaining != 0) return false;
            failed = true;
            return true;
        }
    }
    return false;
}

void* Allocate(std::size_t size) {
    if (ChosenToFail()) return nullptr;
    return std::malloc(size ? size : 1);
}

}  // namespace

void FailAllocation(long nth) {
    failed = false;
    countdown = nth;
}

void Disarm() { countdown = -1; }

bool AllocationFailed() { return failed; }

}  // namespace oom

void* operator new(std::size_t size) {
    if (void* memory = oom::Allocate(size)) return memory;
    throw std::bad_alloc();
}

void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return oom::Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return oom::Allocate(size); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { std::free(memory); }

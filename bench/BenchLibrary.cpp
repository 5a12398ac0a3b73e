#include "BenchLibrary.h"

#if defined(_WIN32)
#include <windows.h>
#include <psapi.h>
#else
#include <dlfcn.h>

#include <fstream>
#endif

namespace bench {

#if defined(_WIN32)

Library::Library(const char* path) {
    handle_ = LoadLibraryA(path);
    if (!handle_) error_ = "error " + std::to_string(GetLastError());
}

Library::~Library() {
    if (handle_) FreeLibrary(static_cast<HMODULE>(handle_));
}

void* Library::Symbol(const char* name) const {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

bool Library::IsLoaded(const char* path) { return GetModuleHandleA(path) != nullptr; }

int HostFileTime(uint32_t low, uint32_t high) {
    const FILETIME utc{low, high};
    FILETIME local;
    WORD date = 0, time = 0;
    if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToDosDateTime(&local, &date, &time)) return 0;
    return int(uint32_t(date) << 16 | time);
}

int HostFileAttributes(uint32_t attributes) { return int(attributes); }

uint64_t ResidentBytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    return GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters) ? counters.WorkingSetSize : 0;
}

uint64_t PeakResidentBytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    return GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters) ? counters.PeakWorkingSetSize : 0;
}

#else

Library::Library(const char* path) {
    handle_ = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!handle_) error_ = dlerror();
}

Library::~Library() {
    if (handle_) dlclose(handle_);
}

void* Library::Symbol(const char* name) const { return dlsym(handle_, name); }

bool Library::IsLoaded(const char* path) {
    void* handle = dlopen(path, RTLD_NOW | RTLD_NOLOAD);
    if (handle) dlclose(handle);
    return handle != nullptr;
}

int HostFileTime(uint32_t low, uint32_t high) {
    const int64_t units = int64_t(uint64_t(high) << 32 | low) - 116444736000000000;
    return int(units / 10000000);
}

int HostFileAttributes(uint32_t attributes) { return attributes & 0x10 ? 040755 : 0100644; }

namespace {
// A "Vm...:  123 kB" line of /proc/self/status.
uint64_t StatusBytes(const std::string& key) {
    std::ifstream status("/proc/self/status");
    std::string word;
    while (status >> word)
        if (word == key + ":") {
            uint64_t kilobytes = 0;
            status >> kilobytes;
            return kilobytes * 1024;
        }
    return 0;
}
}  // namespace

uint64_t ResidentBytes() { return StatusBytes("VmRSS"); }
uint64_t PeakResidentBytes() { return StatusBytes("VmHWM"); }

#endif

}  // namespace bench

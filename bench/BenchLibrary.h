// What the benchmark driver needs from the system: loading libraries and reading its own memory.
#pragma once

#include <cstdint>
#include <string>

namespace bench {

class Library {
public:
    explicit Library(const char* path);
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    bool Loaded() const { return handle_ != nullptr; }
    void* Symbol(const char* name) const;
    std::string Error() const { return error_; }
    // Whether path is loaded in this process now.
    static bool IsLoaded(const char* path);

private:
    void* handle_ = nullptr;
    std::string error_;
};

// FileTime and FileAttr as this system's hosts read them: a DOS stamp in local time and the
// attribute bits on Windows, a Unix time and an st_mode elsewhere.
int HostFileTime(uint32_t low, uint32_t high);
int HostFileAttributes(uint32_t attributes);

// The process's resident memory now and its peak so far, in bytes (0 where unknown).
uint64_t ResidentBytes();
uint64_t PeakResidentBytes();

}  // namespace bench

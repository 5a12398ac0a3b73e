// What the sevenzip sub-module asks of the operating system besides the shared file access: its
// own folder and 7-Zip's library in it, 7-Zip's strings, the password's code page, and threads
// that wait for each other. SystemAccess.cpp is the module's only file with Windows/POSIX
// differences.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "FileAccess.h"
#include "LibraryInterface.h"

namespace sevenzip {

using file_access::kPathSeparator;
using file_access::MakeDirectory;
using file_access::OutputFile;
using file_access::ReadOnlyFile;

// The folder that holds this module's file, ending in a separator; empty when it cannot be told.
std::u16string ModuleFolder();

// Loads the library at exactly this path (no search) and keeps it loaded until the process ends:
// hosts may load and free the module thousands of times, and the library gives back neither the
// thread-local slot nor the memory that its runtime takes. Null when it cannot be loaded.
void* LoadLibraryForGood(const std::u16string& path);
void* EntryPoint(void* library, const char* name);

// Strings in the library's own allocation (SysAllocString), and back.
Bstr AllocateLibraryText(const std::u16string& text);
void FreeLibraryText(Bstr text);
// wchar_t text (UTF-16 on Windows, UTF-32 elsewhere) as UTF-16, and UTF-16 as wchar_t text.
std::u16string FromLibraryText(const wchar_t* text);
std::u16string FromLibraryText(const wchar_t* text, size_t length);
std::wstring ToLibraryText(const std::u16string& text);

// The password as Morvane hands it over (the system's ANSI code page on Windows, UTF-8 elsewhere).
std::u16string DecodePassword(const char* password);

// A lock and a condition to wait on under it.
class Monitor {
public:
    Monitor();
    ~Monitor();
    Monitor(const Monitor&) = delete;
    Monitor& operator=(const Monitor&) = delete;
    void Enter();
    void Leave();
    // Leaves, waits until woken (or spuriously), enters again.
    void Wait();
    void WakeAll();

private:
    struct State;
    std::unique_ptr<State> state_;
};

class MonitorScope {
public:
    explicit MonitorScope(Monitor& monitor) : monitor_(monitor) { monitor_.Enter(); }
    ~MonitorScope() { monitor_.Leave(); }
    MonitorScope(const MonitorScope&) = delete;
    MonitorScope& operator=(const MonitorScope&) = delete;

private:
    Monitor& monitor_;
};

// A thread that runs one function; Join waits for its end. Destroying a thread that was started
// and not joined joins it.
class Thread {
public:
    Thread() = default;
    ~Thread() { Join(); }
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;
    // False when no thread could be started.
    bool Start(std::function<void()> work);
    void Join();
    bool Running() const { return handle_ != 0; }

private:
    uintptr_t handle_ = 0;
    std::function<void()> work_;
};

}  // namespace sevenzip

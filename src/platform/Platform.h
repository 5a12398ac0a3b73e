// The narrow seam between Morvane's portable core and the operating system.
// One implementation per platform: platform/win32 makes the real Windows calls,
// platform/posix stands in for them so that the core builds and is tested on Linux.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

using LibraryHandle = void*;

// --- Private-profile reads -------------------------------------------------------------------
// Both answer like the Windows calls: the number of code units written without the final NUL,
// 0 when there is nothing, and the buffer size minus two when the buffer was too small.
uint32_t ReadIniSectionNames(const std::u16string& iniPath, char16_t* buffer, uint32_t size);
uint32_t ReadIniSection(const std::u16string& iniPath, const std::u16string& section, char16_t* buffer,
                        uint32_t size);

// --- Dynamic libraries -----------------------------------------------------------------------
// Loads a library by its full path, its own folder searched first for its dependencies.
// On failure answers null and sets errorText to the platform's message for the failure.
LibraryHandle LoadLibraryFromPath(const std::u16string& path, std::u16string& errorText);
void* FindExport(LibraryHandle library, const char* name);
void ReleaseLibrary(LibraryHandle library);

// The platform's text for a structured exception code.
std::u16string ExceptionText(uint32_t exceptionCode);

// One guarded call, on its caller's stack while it runs.
struct GuardedCall {
    uint32_t exceptionCode = 0;      // the fault that ended the call
    volatile int32_t hostCalls = 0;  // nonzero while CallOutsideGuard runs the host's code inside it
};

// Runs call(context). Answers true when it returned; false, with the exception code, when a
// structured exception (on Linux: a fault signal, SIGSEGV, SIGBUS, SIGFPE or SIGILL, raised on
// this thread) escaped it. Exceptions that the callee raises and handles itself are left alone.
// The form with a GuardedCall runs between a HoldFaultGuard and its release (it costs no more
// than a few stores then); the form with a code holds the guard itself.
bool CallGuarded(void (*call)(void* context), void* context, GuardedCall& state);
bool CallGuarded(void (*call)(void* context), void* context, uint32_t& exceptionCode);
// From inside the guarded call of state: runs call(context) as if that guard were not there, so
// that a fault of the host's own code, which a sub-module calls back, goes where it would have
// gone without Morvane. Called on another thread, it lifts nothing: that thread is not guarded.
void CallOutsideGuard(GuardedCall& state, void (*call)(void* context), void* context);

// Keeps CallGuarded ready: on Linux its signal handlers stay installed from the first hold to the
// last release, so that a call costs no system call. The two calls pair up, on any threads.
void HoldFaultGuard();
void ReleaseFaultGuard();
class FaultGuardHold {
public:
    FaultGuardHold() { HoldFaultGuard(); }
    ~FaultGuardHold() { ReleaseFaultGuard(); }
    FaultGuardHold(const FaultGuardHold&) = delete;
    FaultGuardHold& operator=(const FaultGuardHold&) = delete;
};

// --- Paths and files -------------------------------------------------------------------------
#if defined(_WIN32)
constexpr char16_t kPathSeparator = u'\\';
#else
constexpr char16_t kPathSeparator = u'/';
#endif

// Case-insensitive file-name wildcard match ('*' and '?') of a path against one mask.
bool PathMatchesMask(const std::u16string& path, const std::u16string& mask);

// The folder of the loaded module (library) behind instance, ending in a path separator; empty
// when the platform cannot tell.
std::u16string ModuleDirectory(void* instance);

constexpr uint32_t kAttributeDirectory = 0x10;
constexpr uint32_t kAttributeReparsePoint = 0x400;

// Attributes of an existing file or directory; false when the path cannot be read.
bool ReadAttributes(const std::u16string& path, uint32_t& attributes);
// Creates one directory; false when it could not be created (also when it exists).
bool MakeDirectory(const std::u16string& path);
// Opens an existing file for its attributes only and sets its creation and last-write times
// (FILETIME values, UTC). Failures are not reported: the times simply stay as they were.
void SetFileTimes(const std::u16string& path, uint64_t creationTime, uint64_t lastWriteTime);
// Sets an existing directory's last-write time (FILETIME, UTC); failures are not reported.
void SetDirectoryTime(const std::u16string& path, uint64_t lastWriteTime);
// Deletes a file that a sub-module was writing when it faulted. The module may have left it
// open: on Windows this process's handles to the file are closed first, as nobody else will.
void DiscardFile(const std::u16string& path);
// Takes the write permission away from an extracted file whose entry is read-only, where the
// platform's hosts expect the plug-in to do so; failures are not reported.
void MakeReadOnly(const std::u16string& path);
// What a path names: a directory's plain form is refused sooner, as it must leave room for a
// file name inside it.
enum class PathKind { File, Directory };
// The form of a path that the platform's file calls accept at any length: a path too long for its
// plain form becomes a full path with "." and ".." resolved, in the long form (also for network
// paths); any other path comes back unchanged.
std::u16string LongPathForm(const std::u16string& path, PathKind kind = PathKind::File);

// --- Time -------------------------------------------------------------------------------------
struct CivilTime {
    uint16_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
// A FILETIME (UTC) in the current local time zone, broken down; all zero when that fails.
CivilTime LocalCivilTime(uint64_t utcFileTime);

// --- Text in the system's ANSI code page ------------------------------------------------------
// Both answer false when the platform cannot convert the text.
bool AnsiToWide(std::string_view text, std::u16string& wide);
bool WideToAnsi(std::u16string_view text, std::string& ansi);

// --- Locking -----------------------------------------------------------------------------------
// A lock for a short stretch of work on shared data, never held across a call out of Morvane.
// The platform's own primitive, not the C++ library's: on Windows that one would bring in a
// threading runtime that takes a thread-local slot at every load of the plug-in.
class Lock {
public:
    Lock();
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    void lock();
    void unlock();

private:
    alignas(16) unsigned char state_[64];
};

// --- User interface --------------------------------------------------------------------------
void ShowReport(const std::u16string& text, const std::u16string& caption);

// Asks for a password in the plug-in's modal dialog (from instance's resources). True only when
// the user pressed OK; buffer then holds the ANSI text, at most capacity - 1 bytes and a NUL.
bool AskPassword(void* instance, char* buffer, int32_t capacity);

}  // namespace platform

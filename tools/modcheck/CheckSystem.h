// Everything modcheck asks of the operating system: loading the sub-module library, the file
// handles this process holds, console output, and a last word when a sub-module crashes.
// CheckSystemWin32.cpp and CheckSystemPosix.cpp implement it; each also holds the program's entry
// point, which calls RunModcheck.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// The program proper, given its arguments without the program name.
int RunModcheck(const std::vector<std::u16string>& arguments);

namespace modcheck {
namespace sys {

// ---- The library under test

// Null on failure, with the system's reason in `error`.
void* LoadLibraryFile(const std::u16string& path, std::string& error);
void* FindExport(void* library, const char* name);
void FreeLibraryFile(void* library);

// ---- Paths

std::filesystem::path FilePath(const std::u16string& text);
std::u16string PathText(const std::filesystem::path& path);
// The narrow text a sub-module receives as a password: the ANSI code page on Windows, UTF-8 elsewhere.
std::string PasswordBytes(const std::u16string& text);

// ---- File handles of this process

using Handle = intptr_t;  // a HANDLE's value on Windows, a file descriptor elsewhere
constexpr Handle kNoHandle = -1;

// What a file is, whichever handle or path reaches it.
struct FileId {
    uint64_t volume = 0;
    uint64_t index = 0;
    bool operator==(const FileId& other) const { return volume == other.volume && index == other.index; }
    bool operator!=(const FileId& other) const { return !(*this == other); }
};

// The handles of this process that are open on files or directories, in ascending order.
std::vector<Handle> OpenFileHandles();
bool IdentifyHandle(Handle handle, FileId& id);
bool IdentifyPath(const std::filesystem::path& path, FileId& id);
// The path of the file behind the handle when the system tells it, else the handle's number.
std::string DescribeHandle(Handle handle);
Handle OpenForReading(const std::filesystem::path& path);  // kNoHandle on failure
void CloseFileHandle(Handle handle);
// True when a handle of this process still holds the file open.
bool IsOpenInProcess(const std::filesystem::path& path);

// ---- Output and crashes

// UTF-8 text, written at once: nothing waits in a buffer if the process ends abruptly.
void WriteOutput(const std::string& text);

// From now on a crash anywhere in the process (an access violation, a fault signal, an abort)
// prints "FAIL crash: <the call under way on the crashing thread>: <what happened>" and ends the
// process with status 1.
void InstallCrashReport();
// The call under way on this thread, for that report; null when none. The text must stay valid
// until it is replaced.
void SetCallUnderWay(const char* description);

}  // namespace sys
}  // namespace modcheck

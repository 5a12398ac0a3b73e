// Everything wcxhost asks of the operating system: loading the plug-in, the console, paths and
// directories, the ANSI code page. HostPlatform.cpp is the only file that differs between
// Windows and POSIX; it also holds the program's entry point, which calls RunHost.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The program proper, given its arguments (without the program name) as UTF-8.
int RunHost(const std::vector<std::string>& arguments);

namespace wcxhost {
namespace platform {

#if defined(_WIN32)
constexpr char16_t kSeparator = u'\\';
#else
constexpr char16_t kSeparator = u'/';
#endif

// Null on failure, with the system's reason in `error`.
void* LoadPluginLibrary(const std::u16string& path, std::string& error);
void* FindExport(void* library, const char* name);
void FreePluginLibrary(void* library);

enum class Stream { Out, Err };
// UTF-8 text: to a console as UTF-16, to a pipe or a file as UTF-8 bytes.
void Write(Stream stream, const std::string& text);
bool IsTerminal(Stream stream);

std::u16string AbsolutePath(const std::u16string& path);
// True when the path is a regular file that can be opened for reading.
bool CheckReadableFile(const std::u16string& path, std::string& error);
// Creates the directory and its missing parents; true when it exists afterwards.
bool MakeDirectories(const std::u16string& path);

// Text in the system's ANSI code page, as the ANSI exports take it; false when a character
// has no counterpart there.
bool ToAnsi(const std::u16string& text, std::string& ansi);
std::u16string FromAnsi(const char* text, size_t capacity);

}  // namespace platform
}  // namespace wcxhost

// Everything wcxhost asks of the operating system: loading the plug-in, the console, paths,
// files and directories, the ANSI code page. HostPlatform.cpp is the file that differs between
// Windows and POSIX (besides PluginWindows.cpp, the watch over the plug-in's windows, and the
// entry point in main.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace wcxhost {
namespace platform {

#if defined(_WIN32)
constexpr char16_t kSeparator = u'\\';
#else
constexpr char16_t kSeparator = u'/';
#endif

// The INI file that a Morvane plug-in of this word size reads beside itself.
#if defined(_WIN32) && !defined(_WIN64)
constexpr const char16_t* kMorvaneIniName = u"morvane.ini";
#else
constexpr const char16_t* kMorvaneIniName = u"morvane64.ini";
#endif

// Null on failure, with the system's reason in `error`.
void* LoadPluginLibrary(const std::u16string& path, std::string& error);
void* FindExport(void* library, const char* name);
void FreePluginLibrary(void* library);
// The full path of a loaded library.
std::u16string LibraryPath(void* library);
// Whether the library at this path is loaded in this process (loaded by the plug-in).
bool IsLibraryLoaded(const std::u16string& path);

enum class Stream { Out, Err };
// UTF-8 text: to a console as UTF-16, to a pipe or a file as UTF-8 bytes.
void Write(Stream stream, const std::string& text);
bool IsTerminal(Stream stream);
// Shows the prompt on the console and reads one line without echoing it; false when there is no
// console to read from or nothing was read.
bool ReadSecretLine(const std::string& prompt, std::string& line);
bool HasConsoleInput();

// `wcxhost serve`: many runs in one process. A request is one line of standard input (false at
// its end); each run's output goes to files of its own, and the answer to the real standard output.
bool ReadRequestLine(std::string& line);
bool RedirectOutput(const std::u16string& out, const std::u16string& err);
void RestoreOutput();
void Answer(const std::string& line);
bool ChangeDirectory(const std::u16string& path);

std::u16string AbsolutePath(const std::u16string& path);
// True when the path is a regular file that can be opened for reading.
bool CheckReadableFile(const std::u16string& path, std::string& error);
// Creates the directory and its missing parents; true when it exists afterwards.
bool MakeDirectories(const std::u16string& path);
bool ReadWholeFile(const std::u16string& path, std::string& bytes);

// Which file a path leads to: two paths with equal identities are one file, whatever their
// spelling (a case-insensitive file system, links).
struct FileIdentity {
    uint64_t volume = 0, index = 0;
    bool operator<(const FileIdentity& other) const {
        return volume != other.volume ? volume < other.volume : index < other.index;
    }
};
// The names in a folder, with whether each is a directory; false when it cannot be listed.
bool ListDirectory(const std::u16string& folder, std::vector<std::pair<std::u16string, bool>>& entries);
// A name as the file system compares it: upper-cased where letter case does not count.
std::u16string FoldCase(const std::u16string& name);
// False when nothing exists at the path.
bool IdentifyFile(const std::u16string& path, FileIdentity& identity, bool& directory);
// Sets or clears the file's read-only attribute (on POSIX: its write permissions).
bool SetReadOnly(const std::u16string& path, bool readOnly);

// Text in the system's ANSI code page, as the ANSI exports take it; false when a character
// has no counterpart there.
bool ToAnsi(const std::u16string& text, std::string& ansi);
std::u16string FromAnsi(const char* text, size_t capacity);
// Whether a name that came through the ANSI exports lost characters on the way: the conversion
// puts "?", which no Windows file name holds, for each character the code page lacks.
bool AnsiNameLostCharacters(const std::u16string& name);
// "1252", "932": the ANSI code page, as messages name it.
std::string AnsiCodePage();

}  // namespace platform
}  // namespace wcxhost

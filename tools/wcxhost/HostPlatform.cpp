#include "HostPlatform.h"

#include "Text.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#endif

#include <fstream>
#include <iterator>

namespace wcxhost {
namespace platform {

namespace {

size_t LastSeparator(const std::u16string& path) { return path.find_last_of(u"\\/"); }

}  // namespace

#if defined(_WIN32)

namespace {

std::wstring Wide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }

std::string SystemMessage(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::u16string text;
    if (length > 0 && buffer) text.assign(buffer, buffer + length);
    if (buffer) LocalFree(buffer);
    while (!text.empty() && (text.back() == u'\n' || text.back() == u'\r' || text.back() == u' ' || text.back() == u'.'))
        text.pop_back();
    const std::string number = "error " + std::to_string(code);
    return text.empty() ? number : ToUtf8(text) + " (" + number + ")";
}

HANDLE StreamHandle(Stream stream) {
    return GetStdHandle(stream == Stream::Out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

}  // namespace

void* LoadPluginLibrary(const std::u16string& path, std::string& error) {
    // The plug-in's own folder is searched for what it loads, as a file manager arranges it.
    HMODULE library = LoadLibraryExW(Wide(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!library) {
        const DWORD code = GetLastError();
        error = SystemMessage(code);
        const size_t insert = error.find("%1");
        if (insert != std::string::npos) error.replace(insert, 2, "the file");
        if (code == ERROR_BAD_EXE_FORMAT) error += "; is it built for the other word size?";
    }
    return reinterpret_cast<void*>(library);
}

void* FindExport(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void FreePluginLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }

std::u16string LibraryPath(void* library) {
    std::wstring path(32768, L'\0');
    const DWORD length = GetModuleFileNameW(static_cast<HMODULE>(library), &path[0], DWORD(path.size()));
    path.resize(length < path.size() ? length : 0);
    return std::u16string(path.begin(), path.end());
}

bool IsLibraryLoaded(const std::u16string& path) {
    std::u16string full = AbsolutePath(path);  // also makes "/" a backslash and resolves ".."
    return GetModuleHandleW(Wide(full).c_str()) != nullptr;
}

void Write(Stream stream, const std::string& text) {
    HANDLE handle = StreamHandle(stream);
    DWORD mode = 0;
    if (GetConsoleMode(handle, &mode)) {
        const std::u16string wide = FromUtf8(text);
        DWORD written = 0;
        WriteConsoleW(handle, wide.data(), DWORD(wide.size()), &written, nullptr);
        return;
    }
    DWORD written = 0;
    WriteFile(handle, text.data(), DWORD(text.size()), &written, nullptr);
}

bool IsTerminal(Stream stream) {
    DWORD mode = 0;
    return GetConsoleMode(StreamHandle(stream), &mode) != 0;
}

bool HasConsoleInput() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

namespace {
HANDLE servedOut = INVALID_HANDLE_VALUE, servedErr = INVALID_HANDLE_VALUE;
HANDLE answerStream = INVALID_HANDLE_VALUE, errorStream = INVALID_HANDLE_VALUE;
}  // namespace

bool ReadRequestLine(std::string& line) {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    line.clear();
    char c = 0;
    DWORD got = 0;
    while (ReadFile(input, &c, 1, &got, nullptr) && got == 1) {
        if (c == '\n') return true;
        if (c != '\r') line += c;
    }
    return !line.empty();
}

bool RedirectOutput(const std::u16string& out, const std::u16string& err) {
    if (answerStream == INVALID_HANDLE_VALUE) {
        answerStream = GetStdHandle(STD_OUTPUT_HANDLE);
        errorStream = GetStdHandle(STD_ERROR_HANDLE);
    }
    auto create = [](const std::u16string& path) {
        return CreateFileW(Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    servedOut = create(out);
    servedErr = create(err);
    if (servedOut == INVALID_HANDLE_VALUE || servedErr == INVALID_HANDLE_VALUE) {
        RestoreOutput();
        return false;
    }
    SetStdHandle(STD_OUTPUT_HANDLE, servedOut);
    SetStdHandle(STD_ERROR_HANDLE, servedErr);
    return true;
}

void RestoreOutput() {
    SetStdHandle(STD_OUTPUT_HANDLE, answerStream);
    SetStdHandle(STD_ERROR_HANDLE, errorStream);
    for (HANDLE* handle : {&servedOut, &servedErr}) {
        if (*handle != INVALID_HANDLE_VALUE) CloseHandle(*handle);
        *handle = INVALID_HANDLE_VALUE;
    }
}

void Answer(const std::string& line) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line.data(), DWORD(line.size()), &written, nullptr);
}

bool ChangeDirectory(const std::u16string& path) { return SetCurrentDirectoryW(Wide(path).c_str()) != 0; }

bool ReadSecretLine(const std::string& prompt, std::string& line) {
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (!GetConsoleMode(input, &mode)) return false;
    Write(Stream::Err, prompt);
    SetConsoleMode(input, (mode | ENABLE_LINE_INPUT) & ~DWORD(ENABLE_ECHO_INPUT));
    std::wstring typed;
    bool ended = false;
    for (;;) {
        wchar_t buffer[256];
        DWORD read = 0;
        if (!ReadConsoleW(input, buffer, 256, &read, nullptr) || read == 0) break;
        typed.append(buffer, read);
        const size_t end = typed.find_first_of(L"\r\n");
        if (end != std::wstring::npos) {
            typed.resize(end);
            ended = true;
            break;
        }
    }
    SetConsoleMode(input, mode);
    Write(Stream::Err, "\n");  // the Enter that was not echoed
    line = ToUtf8(std::u16string(typed.begin(), typed.end()));
    return ended;
}

std::u16string AbsolutePath(const std::u16string& path) {
    const std::wstring wide = Wide(path);
    const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return path;
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(wide.c_str(), needed, &full[0], nullptr);
    if (length == 0 || length >= needed) return path;
    full.resize(length);
    return std::u16string(full.begin(), full.end());
}

bool CheckReadableFile(const std::u16string& path, std::string& error) {
    const std::wstring wide = Wide(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        error = "it is a directory";
        return false;
    }
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = SystemMessage(GetLastError());
        return false;
    }
    CloseHandle(file);
    return true;
}

bool MakeDirectories(const std::u16string& path) {
    const std::wstring wide = Wide(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const size_t slash = LastSeparator(path);
    if (slash != std::u16string::npos && slash > 0 && !MakeDirectories(path.substr(0, slash))) return false;
    if (CreateDirectoryW(wide.c_str(), nullptr)) return true;
    const DWORD now = GetFileAttributesW(wide.c_str());
    return now != INVALID_FILE_ATTRIBUTES && (now & FILE_ATTRIBUTE_DIRECTORY);
}

bool ReadWholeFile(const std::u16string& path, std::string& bytes) {
    HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bytes.clear();
    char buffer[65536];
    DWORD read = 0;
    bool ok = true;
    while ((ok = ReadFile(file, buffer, sizeof buffer, &read, nullptr) != 0) && read > 0) bytes.append(buffer, read);
    CloseHandle(file);
    return ok;
}

bool ListDirectory(const std::u16string& folder, std::vector<std::pair<std::u16string, bool>>& entries) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(Wide(folder + u"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    do {
        const std::u16string name(reinterpret_cast<const char16_t*>(found.cFileName));
        if (name != u"." && name != u"..") entries.emplace_back(name, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return true;
}

std::u16string FoldCase(const std::u16string& name) {
    std::wstring wide = Wide(name);
    if (!wide.empty()) CharUpperBuffW(&wide[0], DWORD(wide.size()));
    return std::u16string(wide.begin(), wide.end());
}

bool IdentifyFile(const std::u16string& path, FileIdentity& identity, bool& directory) {
    // Backup semantics: directories open too. No access is asked for, only the identity.
    HANDLE file = CreateFileW(Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION information{};
    const bool known = GetFileInformationByHandle(file, &information) != 0;
    CloseHandle(file);
    if (!known) return false;
    identity.volume = information.dwVolumeSerialNumber;
    identity.index = (uint64_t(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
    directory = (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return true;
}

bool SetReadOnly(const std::u16string& path, bool readOnly) {
    const std::wstring wide = Wide(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    DWORD wanted = readOnly ? (attributes | FILE_ATTRIBUTE_READONLY) : (attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
    if (wanted == attributes) return true;
    if (wanted == 0) wanted = FILE_ATTRIBUTE_NORMAL;
    return SetFileAttributesW(wide.c_str(), wanted) != 0;
}

bool ToAnsi(const std::u16string& text, std::string& ansi) {
    ansi.clear();
    if (text.empty()) return true;
    const std::wstring wide = Wide(text);
    BOOL usedDefault = FALSE;
    const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), int(wide.size()), nullptr, 0,
                                           nullptr, &usedDefault);
    if (length <= 0 || usedDefault) return false;
    ansi.assign(size_t(length), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), int(wide.size()), &ansi[0], length, nullptr,
                        &usedDefault);
    return !usedDefault;
}

std::u16string FromAnsi(const char* text, size_t capacity) {
    size_t length = 0;
    while (length < capacity && text[length] != '\0') ++length;
    if (length == 0) return std::u16string();
    const int wideLength = MultiByteToWideChar(CP_ACP, 0, text, int(length), nullptr, 0);
    if (wideLength <= 0) return std::u16string();
    std::wstring wide(size_t(wideLength), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, int(length), &wide[0], wideLength);
    return std::u16string(wide.begin(), wide.end());
}

bool AnsiNameLostCharacters(const std::u16string& name) { return name.find(u'?') != std::u16string::npos; }

std::string AnsiCodePage() { return std::to_string(GetACP()); }

}  // namespace platform
}  // namespace wcxhost


#else  // POSIX

namespace {

std::string SystemPath(const std::u16string& path) { return ToUtf8(path); }

}  // namespace

void* LoadPluginLibrary(const std::u16string& path, std::string& error) {
    void* library = dlopen(SystemPath(path).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char* text = dlerror();
        error = text ? text : "unknown error";
    }
    return library;
}

void* FindExport(void* library, const char* name) { return dlsym(library, name); }

void FreePluginLibrary(void* library) { dlclose(library); }

std::u16string LibraryPath(void* library) {
    // dladdr needs an address inside the library: any export will do.
    for (const char* name : {"OpenArchiveW", "OpenArchive", "GetPackerCaps", "CanYouHandleThisFileW"}) {
        void* symbol = dlsym(library, name);
        Dl_info information{};
        if (symbol && dladdr(symbol, &information) && information.dli_fname) return FromUtf8(information.dli_fname);
    }
    return std::u16string();
}

bool IsLibraryLoaded(const std::u16string& path) {
    // A backslash from the INI file may have been taken as written or as "/": either counts.
    std::string slashed = SystemPath(path);
    for (char& c : slashed)
        if (c == '\\') c = '/';
    for (const std::string& form : {SystemPath(path), slashed}) {
        if (void* library = dlopen(form.c_str(), RTLD_LAZY | RTLD_NOLOAD)) {
            dlclose(library);
            return true;
        }
    }
    return false;
}

void Write(Stream stream, const std::string& text) {
    // Output into a file or a pipe goes out in blocks (a line per extracted file would otherwise
    // cost a system call each); everything on stdout is out before anything goes to stderr.
    static const bool outIsTerminal = isatty(1) != 0;
    if (stream == Stream::Err) std::fflush(stdout);
    std::FILE* file = stream == Stream::Out ? stdout : stderr;
    std::fwrite(text.data(), 1, text.size(), file);
    if (stream == Stream::Err || outIsTerminal) std::fflush(file);
}

bool IsTerminal(Stream stream) { return isatty(stream == Stream::Out ? 1 : 2) != 0; }

bool HasConsoleInput() { return isatty(0) != 0; }

namespace {
int answerStream = -1, errorStream = -1;
}  // namespace

bool ReadRequestLine(std::string& line) {
    line.clear();
    char c = 0;
    while (::read(0, &c, 1) == 1) {
        if (c == '\n') return true;
        line += c;
    }
    return !line.empty();
}

bool RedirectOutput(const std::u16string& out, const std::u16string& err) {
    if (answerStream < 0) answerStream = dup(1), errorStream = dup(2);
    const int outFile = open(SystemPath(out).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int errFile = open(SystemPath(err).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const bool opened = outFile >= 0 && errFile >= 0;
    if (opened) dup2(outFile, 1), dup2(errFile, 2);
    if (outFile >= 0) close(outFile);
    if (errFile >= 0) close(errFile);
    return opened;
}

void RestoreOutput() {
    std::fflush(stdout);
    std::fflush(stderr);
    dup2(answerStream, 1);
    dup2(errorStream, 2);
}

void Answer(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

bool ChangeDirectory(const std::u16string& path) { return chdir(SystemPath(path).c_str()) == 0; }

bool ReadSecretLine(const std::string& prompt, std::string& line) {
    if (!isatty(0)) return false;
    Write(Stream::Err, prompt);
    termios saved{};
    const bool quiet = tcgetattr(0, &saved) == 0;
    if (quiet) {
        termios silent = saved;
        silent.c_lflag &= ~tcflag_t(ECHO);
        silent.c_lflag |= ICANON;
        tcsetattr(0, TCSAFLUSH, &silent);
    }
    line.clear();
    bool ended = false;
    char c = 0;
    while (::read(0, &c, 1) == 1) {
        if (c == '\n' || c == '\r') {
            ended = true;
            break;
        }
        line += c;
    }
    if (quiet) tcsetattr(0, TCSAFLUSH, &saved);
    Write(Stream::Err, "\n");  // the Enter that was not echoed
    return ended;
}

std::u16string AbsolutePath(const std::u16string& path) {
    if (!path.empty() && path[0] == u'/') return path;
    char buffer[4096];
    if (!getcwd(buffer, sizeof buffer)) return path;
    return FromUtf8(buffer) + u"/" + path;
}

bool CheckReadableFile(const std::u16string& path, std::string& error) {
    const int fd = ::open(SystemPath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    struct stat info {};
    const bool directory = ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode);
    ::close(fd);
    if (directory) error = "it is a directory";
    return !directory;
}

bool MakeDirectories(const std::u16string& path) {
    struct stat info {};
    const std::string systemPath = SystemPath(path);
    if (::stat(systemPath.c_str(), &info) == 0) return S_ISDIR(info.st_mode);
    const size_t slash = LastSeparator(path);
    if (slash != std::u16string::npos && slash > 0 && !MakeDirectories(path.substr(0, slash))) return false;
    if (::mkdir(systemPath.c_str(), 0777) == 0) return true;
    return ::stat(systemPath.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool ReadWholeFile(const std::u16string& path, std::string& bytes) {
    std::ifstream file(SystemPath(path), std::ios::binary);
    if (!file) return false;
    bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return !file.bad();
}

bool ListDirectory(const std::u16string& folder, std::vector<std::pair<std::u16string, bool>>& entries) {
    DIR* directory = ::opendir(SystemPath(folder).c_str());
    if (!directory) return false;
    while (const dirent* entry = ::readdir(directory)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        struct stat information {};
        const bool isDirectory = ::fstatat(dirfd(directory), entry->d_name, &information, 0) == 0 &&
                                 S_ISDIR(information.st_mode);
        entries.emplace_back(FromUtf8(name), isDirectory);
    }
    ::closedir(directory);
    return true;
}

// Linux file systems tell letter cases apart (a folder that does not is caught afterwards, by
// the files' identities).
std::u16string FoldCase(const std::u16string& name) { return name; }

bool IdentifyFile(const std::u16string& path, FileIdentity& identity, bool& directory) {
    struct stat information {};
    if (::stat(SystemPath(path).c_str(), &information) != 0) return false;
    identity.volume = uint64_t(information.st_dev);
    identity.index = uint64_t(information.st_ino);
    directory = S_ISDIR(information.st_mode);
    return true;
}

bool SetReadOnly(const std::u16string& path, bool readOnly) {
    struct stat information {};
    const std::string systemPath = SystemPath(path);
    if (::stat(systemPath.c_str(), &information) != 0) return false;
    // Read-only takes every write permission; writable gives the owner's back.
    const mode_t mode = readOnly ? (information.st_mode & ~mode_t(S_IWUSR | S_IWGRP | S_IWOTH))
                                 : (information.st_mode | S_IWUSR);
    return ::chmod(systemPath.c_str(), mode & 07777) == 0;
}

// The ANSI exports of a Linux build take UTF-8.
bool ToAnsi(const std::u16string& text, std::string& ansi) {
    ansi = ToUtf8(text);
    return true;
}

std::u16string FromAnsi(const char* text, size_t capacity) {
    size_t length = 0;
    while (length < capacity && text[length] != '\0') ++length;
    return FromUtf8(std::string(text, length));
}

// UTF-8 holds every character, and "?" is a file name's character like any other.
bool AnsiNameLostCharacters(const std::u16string&) { return false; }

std::string AnsiCodePage() { return "UTF-8"; }

}  // namespace platform
}  // namespace wcxhost


#endif

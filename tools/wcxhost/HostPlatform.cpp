#include "HostPlatform.h"

#include "Text.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#endif

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

}  // namespace platform
}  // namespace wcxhost

// Built with -municode: the arguments arrive as UTF-16 whatever the ANSI code page.
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) {
        const std::wstring argument(argv[i]);
        arguments.push_back(wcxhost::ToUtf8(std::u16string(argument.begin(), argument.end())));
    }
    return RunHost(arguments);
}

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

void Write(Stream stream, const std::string& text) {
    std::FILE* file = stream == Stream::Out ? stdout : stderr;
    std::fwrite(text.data(), 1, text.size(), file);
    std::fflush(file);
}

bool IsTerminal(Stream stream) { return isatty(stream == Stream::Out ? 1 : 2) != 0; }

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

}  // namespace platform
}  // namespace wcxhost

int main(int argc, char** argv) { return RunHost(std::vector<std::string>(argv + 1, argv + argc)); }

#endif

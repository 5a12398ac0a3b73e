// modcheck's system layer on Linux: dlopen, /proc/self/fd, fault signals.
#include "CheckSystem.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "text/Utf8.h"

namespace modcheck {
namespace sys {

void* LoadLibraryFile(const std::u16string& path, std::string& error) {
    // A path with a slash is taken as it is, never searched for.
    std::string file = text::ToUtf8(path);
    if (file.find('/') == std::string::npos) file = "./" + file;
    void* library = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char* reason = dlerror();
        error = reason ? reason : "dlopen failed";
    }
    return library;
}

void* FindExport(void* library, const char* name) { return dlsym(library, name); }

void FreeLibraryFile(void* library) { dlclose(library); }

std::filesystem::path FilePath(const std::u16string& text) { return std::filesystem::path(text::ToUtf8(text)); }

std::u16string PathText(const std::filesystem::path& path) { return text::FromUtf8(path.string()); }

std::string PasswordBytes(const std::u16string& text) { return text::ToUtf8(text); }

namespace {

bool IsFileOrDirectory(const struct stat& status) { return S_ISREG(status.st_mode) || S_ISDIR(status.st_mode); }

FileId IdOf(const struct stat& status) { return FileId{uint64_t(status.st_dev), uint64_t(status.st_ino)}; }

}  // namespace

std::vector<Handle> OpenFileHandles() {
    std::vector<Handle> handles;
    DIR* folder = opendir("/proc/self/fd");
    if (!folder) return handles;
    const int own = dirfd(folder);
    while (const dirent* item = readdir(folder)) {
        char* end = nullptr;
        const long number = std::strtol(item->d_name, &end, 10);
        if (end == item->d_name || *end != '\0' || number == own) continue;
        struct stat status {};
        if (fstat(int(number), &status) == 0 && IsFileOrDirectory(status)) handles.push_back(Handle(number));
    }
    closedir(folder);
    std::sort(handles.begin(), handles.end());
    return handles;
}

bool IdentifyHandle(Handle handle, FileId& id) {
    struct stat status {};
    if (handle < 0 || fstat(int(handle), &status) != 0) return false;
    id = IdOf(status);
    return true;
}

bool IdentifyPath(const std::filesystem::path& path, FileId& id) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) return false;
    id = IdOf(status);
    return true;
}

std::string DescribeHandle(Handle handle) {
    const std::string link = "/proc/self/fd/" + std::to_string(handle);
    char target[4096];
    const ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
    if (length <= 0) return "descriptor " + std::to_string(handle);
    return std::string(target, size_t(length)) + " (descriptor " + std::to_string(handle) + ")";
}

Handle OpenForReading(const std::filesystem::path& path) {
    const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    return file < 0 ? kNoHandle : Handle(file);
}

void CloseFileHandle(Handle handle) {
    if (handle >= 0) close(int(handle));
}

bool IsOpenInProcess(const std::filesystem::path& path) {
    FileId wanted;
    if (!IdentifyPath(path, wanted)) return false;
    for (const Handle handle : OpenFileHandles()) {
        FileId id;
        if (IdentifyHandle(handle, id) && id == wanted) return true;
    }
    return false;
}

void WriteOutput(const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = write(STDOUT_FILENO, text.data() + done, text.size() - done);
        if (written <= 0) return;
        done += size_t(written);
    }
}

// ---- Crash report: only async-signal-safe calls from here on

namespace {

thread_local const char* callUnderWay = nullptr;
char alternateStack[1 << 16];  // a stack overflow leaves no stack for the handler

void Put(const char* text) {
    const ssize_t ignored = write(STDOUT_FILENO, text, strlen(text));
    (void)ignored;
}

const char* SignalMeaning(int signal) {
    switch (signal) {
    case SIGSEGV: return "segmentation fault (SIGSEGV)";
    case SIGBUS: return "bus error (SIGBUS)";
    case SIGFPE: return "arithmetic fault (SIGFPE)";
    case SIGILL: return "illegal instruction (SIGILL)";
    case SIGABRT: return "abort (SIGABRT)";
    default: return "fatal signal";
    }
}

void OnFatalSignal(int signal) {
    Put("FAIL crash: ");
    Put(callUnderWay ? callUnderWay : "outside any call into the sub-module");
    Put(": ");
    Put(SignalMeaning(signal));
    Put("\nmodcheck: stopped by the crash; the checks after it did not run\n");
    _exit(1);
}

}  // namespace

void InstallCrashReport() {
    stack_t stack{};
    stack.ss_sp = alternateStack;
    stack.ss_size = sizeof alternateStack;
    sigaltstack(&stack, nullptr);
    struct sigaction action {};
    action.sa_handler = OnFatalSignal;
    action.sa_flags = SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) sigaction(signal, &action, nullptr);
}

void SetCallUnderWay(const char* description) { callUnderWay = description; }

}  // namespace sys
}  // namespace modcheck

int main(int argc, char** argv) {
    std::vector<std::u16string> arguments;
    for (int i = 1; i < argc; ++i) arguments.push_back(text::FromUtf8(argv[i]));
    return RunModcheck(arguments);
}

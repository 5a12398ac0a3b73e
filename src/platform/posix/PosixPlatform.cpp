// The platform seam on Linux: the calls answer as the Windows ones do, so the core runs unchanged.
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/Platform.h"
#include "platform/posix/FaultGuard.h"
#include "text/Utf8.h"

namespace platform {

using text::FromUtf8;
using text::ToUtf8;

namespace {

// The INI file as (section, raw line) pairs in file order; lines before any section are dropped.
struct IniLines {
    std::vector<std::u16string> names;
    std::vector<std::pair<std::u16string, std::u16string>> lines;
};

IniLines ReadIniFile(const std::u16string& path) {
    IniLines result;
    std::ifstream file(ToUtf8(path), std::ios::binary);
    if (!file) return result;
    std::stringstream content;
    content << file.rdbuf();
    std::istringstream stream(content.str());
    std::string raw;
    std::u16string current;
    bool inSection = false;
    while (std::getline(stream, raw)) {
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        const std::u16string line = FromUtf8(raw);
        const size_t first = line.find_first_not_of(u" \t");
        if (first != std::u16string::npos && line[first] == u'[') {
            const size_t close = line.find(u']', first);
            if (close != std::u16string::npos) {
                current = line.substr(first + 1, close - first - 1);
                inSection = true;
                bool known = false;
                for (const auto& name : result.names) known = known || name == current;
                if (!known) result.names.push_back(current);
                continue;
            }
        }
        if (inSection && first != std::u16string::npos) result.lines.emplace_back(current, line);
    }
    return result;
}

// Delivers items as a NUL-separated list ended by one more NUL; cut short like the profile reads.
uint32_t Deliver(const std::vector<std::u16string>& items, char16_t* buffer, uint32_t size) {
    if (size < 2) return 0;
    uint32_t used = 0;
    for (const auto& item : items) {
        if (used + item.size() + 2 > size) {
            buffer[size - 2] = u'\0';
            buffer[size - 1] = u'\0';
            return size - 2;
        }
        std::copy(item.begin(), item.end(), buffer + used);
        used += static_cast<uint32_t>(item.size());
        buffer[used++] = u'\0';
    }
    buffer[used] = u'\0';
    return used;
}

char16_t FoldCase(char16_t c) { return (c >= u'a' && c <= u'z') ? char16_t(c - u'a' + u'A') : c; }

bool Matches(const char16_t* text, const char16_t* mask) {
    for (; *mask; ++mask, ++text) {
        if (*mask == u'*') {
            for (const char16_t* rest = text;; ++rest) {
                if (Matches(rest, mask + 1)) return true;
                if (!*rest) return false;
            }
        }
        if (!*text || (*mask != u'?' && FoldCase(*mask) != FoldCase(*text))) return false;
    }
    return !*text;
}

}  // namespace

uint32_t ReadIniSectionNames(const std::u16string& iniPath, char16_t* buffer, uint32_t size) {
    return Deliver(ReadIniFile(iniPath).names, buffer, size);
}

uint32_t ReadIniSection(const std::u16string& iniPath, const std::u16string& section, char16_t* buffer,
                        uint32_t size) {
    std::vector<std::u16string> lines;
    for (const auto& entry : ReadIniFile(iniPath).lines)
        if (entry.first == section) lines.push_back(entry.second);
    return Deliver(lines, buffer, size);
}

LibraryHandle LoadLibraryFromPath(const std::u16string& path, std::u16string& errorText) {
    dlerror();
    void* library = dlopen(ToUtf8(path).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char* text = dlerror();
        errorText = FromUtf8(text ? std::string(text) + "\n" : std::string("Unrecognized error\n"));
    }
    return library;
}

void* FindExport(LibraryHandle library, const char* name) { return dlsym(library, name); }

void ReleaseLibrary(LibraryHandle library) {
    if (library) dlclose(library);
}

std::u16string ExceptionText(uint32_t exceptionCode) {
    if (const char* name = FaultSignalName(exceptionCode)) return FromUtf8(std::string(name) + "\n");
    if (exceptionCode == 0xE0434352u) return u".NET code has thrown an exception";
    return FromUtf8("Unrecognized exception: " + std::to_string(exceptionCode));
}

bool PathMatchesMask(const std::u16string& path, const std::u16string& mask) {
    return Matches(path.c_str(), mask.c_str());
}

std::u16string ModuleDirectory(void* instance) {
    Dl_info info{};
    if (!instance || !dladdr(instance, &info) || !info.dli_fname) return std::u16string();
    std::string file(info.dli_fname);
    const size_t slash = file.rfind('/');
    return slash == std::string::npos ? std::u16string() : FromUtf8(file.substr(0, slash + 1));
}

// One write, so that the block never interleaves with the host's own lines on stderr.
void ShowReport(const std::u16string& text, const std::u16string& caption) {
    std::string block = ToUtf8(caption) + "\n" + ToUtf8(text);
    if (block.back() != '\n') block += '\n';
    for (size_t done = 0; done < block.size();) {
        const ssize_t written = ::write(STDERR_FILENO, block.data() + done, block.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        done += size_t(written);
    }
}

namespace {

// The core's tests write Windows paths; a backslash stands for the separator here too.
std::string NativePath(const std::u16string& path) {
    std::string native = ToUtf8(path);
    for (char& c : native)
        if (c == '\\') c = '/';
    return native;
}

constexpr uint64_t kUnixEpochAsFileTime = 116444736000000000ull;
// Windows converts no FILETIME of 2^63 and more.
constexpr uint64_t kLargestFileTime = 0x7FFFFFFFFFFFFFFFull;

// Counted in unsigned arithmetic: a sub-module may hand any 64-bit value.
timespec ToTimespec(uint64_t fileTime) {
    const bool beforeEpoch = fileTime < kUnixEpochAsFileTime;
    const uint64_t distance = beforeEpoch ? kUnixEpochAsFileTime - fileTime : fileTime - kUnixEpochAsFileTime;
    timespec time{};
    time.tv_sec = time_t(distance / 10000000);
    time.tv_nsec = long(distance % 10000000) * 100;
    if (beforeEpoch) {
        time.tv_sec = -time.tv_sec;
        if (time.tv_nsec != 0) {
            --time.tv_sec;
            time.tv_nsec = 1000000000 - time.tv_nsec;
        }
    }
    return time;
}

}  // namespace

bool ReadAttributes(const std::u16string& path, uint32_t& attributes) {
    struct stat info {};
    if (::stat(NativePath(path).c_str(), &info) != 0) return false;
    attributes = S_ISDIR(info.st_mode) ? kAttributeDirectory : 0x80;
    return true;
}

bool MakeDirectory(const std::u16string& path) { return ::mkdir(NativePath(path).c_str(), 0777) == 0; }

// Linux keeps no creation time: only the last-write time is set.
void SetFileTimes(const std::u16string& path, uint64_t /*creationTime*/, uint64_t lastWriteTime) {
    timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1] = ToTimespec(lastWriteTime);
    ::utimensat(AT_FDCWD, NativePath(path).c_str(), times, 0);
}

void SetDirectoryTime(const std::u16string& path, uint64_t lastWriteTime) {
    timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1] = ToTimespec(lastWriteTime);
    ::utimensat(AT_FDCWD, NativePath(path).c_str(), times, 0);
}

// Open descriptors do not keep a name alive on Linux.
void DiscardFile(const std::u16string& path) { ::unlink(NativePath(path).c_str()); }

void MakeReadOnly(const std::u16string& path) {
    const std::string native = NativePath(path);
    struct stat info {};
    if (::stat(native.c_str(), &info) == 0) ::chmod(native.c_str(), info.st_mode & 07555);
}

std::u16string LongPathForm(const std::u16string& path, PathKind /*kind*/) { return path; }

CivilTime LocalCivilTime(uint64_t utcFileTime) {
    CivilTime civil;
    if (utcFileTime > kLargestFileTime) return civil;
    const time_t seconds = ToTimespec(utcFileTime).tv_sec;
    tm local{};
    if (!localtime_r(&seconds, &local)) return civil;
    civil.year = uint16_t(local.tm_year + 1900);
    civil.month = uint16_t(local.tm_mon + 1);
    civil.day = uint16_t(local.tm_mday);
    civil.hour = uint16_t(local.tm_hour);
    civil.minute = uint16_t(local.tm_min);
    civil.second = uint16_t(local.tm_sec);
    return civil;
}

// Linux's "ANSI" text is UTF-8.
bool AnsiToWide(std::string_view text, std::u16string& wide) {
    wide = FromUtf8(std::string(text));
    return true;
}

bool WideToAnsi(std::u16string_view text, std::string& ansi) {
    ansi = ToUtf8(std::u16string(text));
    return true;
}

static_assert(sizeof(pthread_mutex_t) <= 64 && alignof(pthread_mutex_t) <= 16, "Lock's storage holds a mutex");

Lock::Lock() { pthread_mutex_init(reinterpret_cast<pthread_mutex_t*>(state_), nullptr); }
Lock::~Lock() { pthread_mutex_destroy(reinterpret_cast<pthread_mutex_t*>(state_)); }
void Lock::lock() { pthread_mutex_lock(reinterpret_cast<pthread_mutex_t*>(state_)); }
void Lock::unlock() { pthread_mutex_unlock(reinterpret_cast<pthread_mutex_t*>(state_)); }

// No dialog of its own on Linux (the host lends one, see plugin/HostDialogs): the prompt
// behaves as if it could not be shown.
bool AskPassword(void* /*instance*/, char* /*buffer*/, int32_t /*capacity*/) { return false; }

}  // namespace platform

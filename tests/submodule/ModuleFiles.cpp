#include "ModuleFiles.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "text/Utf8.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace testmodule {

namespace {

constexpr uint64_t kLargestRead = 64u << 20;  // containers are small; anything bigger is not ours
const char kAnchor = 0;                        // an address inside this library

#if defined(_WIN32)
// Paths beyond MAX_PATH only work through the \\?\ form, which takes no relative parts.
Wide ApiPath(const Wide& path) {
    if (path.size() < 248 || path.compare(0, 4, L"\\\\?\\") == 0) return path;
    DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (size == 0) return path;
    Wide full(size, L'\0');
    full.resize(GetFullPathNameW(path.c_str(), size, &full[0], nullptr));
    if (full.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}
#endif

}  // namespace

Wide WideFrom(const SM_WCHAR* text) {
    Wide copy;
    for (; text && *text; ++text) copy.push_back(Wide::value_type(*text));
    return copy;
}

std::string Utf8(const Wide& text) { return text::ToUtf8(std::u16string(text.begin(), text.end())); }

Wide FromUtf8(const std::string& text) {
    const std::u16string wide = text::FromUtf8(text);
    return Wide(wide.begin(), wide.end());
}

#if defined(_WIN32)

Wide OwnLibraryPath() {
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&kAnchor), &self))
        return Wide();
    for (DWORD size = MAX_PATH; size <= 65536; size *= 2) {
        Wide path(size, L'\0');
        const DWORD length = GetModuleFileNameW(self, &path[0], size);
        if (length == 0) return Wide();
        if (length < size) return path.substr(0, length);
    }
    return Wide();
}

Wide EnvironmentValue(const char* name) {
    // The process environment itself: the C runtime's copy misses later SetEnvironmentVariableW calls.
    const Wide wideName(name, name + std::char_traits<char>::length(name));
    const DWORD size = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
    if (size == 0) return Wide();
    Wide value(size, L'\0');
    value.resize(GetEnvironmentVariableW(wideName.c_str(), &value[0], size));
    return value;
}

bool ReadWholeFile(const Wide& path, std::string& bytes) {
    HANDLE file = CreateFileW(ApiPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size{};
    bool ok = GetFileSizeEx(file, &size) && uint64_t(size.QuadPart) <= kLargestRead;
    if (ok) {
        bytes.assign(size_t(size.QuadPart), '\0');
        DWORD read = 0;
        ok = bytes.empty() || (ReadFile(file, &bytes[0], DWORD(bytes.size()), &read, nullptr) && read == bytes.size());
    }
    CloseHandle(file);
    return ok;
}

// Several copies of this module, each with its own lock, may append to one log from many threads, and
// Wine does not make an append atomic; one mutex per session keeps every line whole.
class AppendMutex {
public:
    AppendMutex() : mutex_(CreateMutexW(nullptr, FALSE, L"Local\\MorvaneTestModuleAppend")) {
        if (mutex_) WaitForSingleObject(mutex_, INFINITE);  // WAIT_ABANDONED also grants ownership
    }
    ~AppendMutex() {
        if (!mutex_) return;
        ReleaseMutex(mutex_);
        CloseHandle(mutex_);
    }
    AppendMutex(const AppendMutex&) = delete;
    AppendMutex& operator=(const AppendMutex&) = delete;

private:
    HANDLE mutex_;
};

void AppendToFile(const Wide& path, const std::string& bytes) {
    AppendMutex serialised;
    HANDLE file = INVALID_HANDLE_VALUE;
    // A reader that opened the log without sharing may hold it for a moment.
    for (int attempt = 0; attempt < 200 && file == INVALID_HANDLE_VALUE; ++attempt) {
        file = CreateFileW(ApiPath(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_SHARING_VIOLATION) return;
        if (file == INVALID_HANDLE_VALUE) Sleep(5);
    }
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

intptr_t OpenHeldFile(const Wide& path) {
    HANDLE file = CreateFileW(ApiPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    return file == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<intptr_t>(file);
}

void CloseHeldFile(intptr_t file) { CloseHandle(reinterpret_cast<HANDLE>(file)); }

bool OutputFile::Create(const Wide& path) {
    Close();
    HANDLE file = CreateFileW(ApiPath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    file_ = file == INVALID_HANDLE_VALUE ? nullptr : file;
    return file_ != nullptr;
}

bool OutputFile::Write(const char* data, size_t size) {
    DWORD written = 0;
    return file_ && WriteFile(file_, data, DWORD(size), &written, nullptr) && written == size;
}

bool OutputFile::Close() {
    if (!file_) return true;
    const bool ok = CloseHandle(file_);
    file_ = nullptr;
    return ok;
}

#else

Wide OwnLibraryPath() {
    Dl_info info{};
    if (!dladdr(&kAnchor, &info) || !info.dli_fname) return Wide();
    return FromUtf8(info.dli_fname);
}

Wide EnvironmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? FromUtf8(value) : Wide();
}

bool ReadWholeFile(const Wide& path, std::string& bytes) {
    std::FILE* file = std::fopen(Utf8(path).c_str(), "rb");
    if (!file) return false;
    bytes.clear();
    char buffer[65536];
    size_t read = 0;
    while ((read = std::fread(buffer, 1, sizeof buffer, file)) > 0 && bytes.size() <= kLargestRead)
        bytes.append(buffer, read);
    const bool ok = !std::ferror(file) && bytes.size() <= kLargestRead;
    std::fclose(file);
    return ok;
}

void AppendToFile(const Wide& path, const std::string& bytes) {
    const int file = open(Utf8(path).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (file < 0) return;
    const bool written = write(file, bytes.data(), bytes.size()) == ssize_t(bytes.size());
    close(file);
    (void)written;  // nothing to report a failure to: the log is the only channel
}

intptr_t OpenHeldFile(const Wide& path) {
    const int file = open(Utf8(path).c_str(), O_RDONLY | O_CLOEXEC);
    return file < 0 ? -1 : intptr_t(file);
}

void CloseHeldFile(intptr_t file) { close(int(file)); }

bool OutputFile::Create(const Wide& path) {
    Close();
    file_ = std::fopen(Utf8(path).c_str(), "wb");
    return file_ != nullptr;
}

bool OutputFile::Write(const char* data, size_t size) {
    return file_ && std::fwrite(data, 1, size, static_cast<std::FILE*>(file_)) == size;
}

bool OutputFile::Close() {
    if (!file_) return true;
    const bool ok = std::fclose(static_cast<std::FILE*>(file_)) == 0;
    file_ = nullptr;
    return ok;
}

#endif

}  // namespace testmodule

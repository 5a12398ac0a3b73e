#include "FileAccess.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "text/Utf8.h"
#endif

namespace file_access {

#if defined(_WIN32)

namespace {

// Paths of MAX_PATH and more need the "\\?\" form, which takes backslashes only.
std::wstring SystemPath(const std::u16string& path) {
    std::wstring wide(path.begin(), path.end());
    if (wide.size() < MAX_PATH - 12 || wide.compare(0, 4, L"\\\\?\\") == 0) return wide;
    for (wchar_t& c : wide)
        if (c == L'/') c = L'\\';
    if (wide.size() > 2 && wide[1] == L':' && wide[2] == L'\\') return L"\\\\?\\" + wide;
    if (wide.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + wide.substr(2);
    return wide;
}

HANDLE AsHandle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// ReadFile and WriteFile take 32-bit counts.
DWORD Chunk(size_t size) { return size > 0x40000000u ? 0x40000000u : DWORD(size); }

}  // namespace

std::unique_ptr<ReadOnlyFile> ReadOnlyFile::Open(const std::u16string& path) {
    HANDLE file = CreateFileW(SystemPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    LARGE_INTEGER size;
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &size)) {
        CloseHandle(file);
        return nullptr;
    }
    return std::unique_ptr<ReadOnlyFile>(new ReadOnlyFile(reinterpret_cast<intptr_t>(file), uint64_t(size.QuadPart)));
}

ReadOnlyFile::~ReadOnlyFile() { CloseHandle(AsHandle(handle_)); }

uint64_t ReadOnlyFile::CurrentSize() const {
    LARGE_INTEGER size;
    return GetFileSizeEx(AsHandle(handle_), &size) ? uint64_t(size.QuadPart) : 0;
}

int64_t ReadOnlyFile::ReadSome(uint64_t offset, void* buffer, size_t size) {
    OVERLAPPED position{};
    position.Offset = DWORD(offset);
    position.OffsetHigh = DWORD(offset >> 32);
    DWORD got = 0;
    if (!ReadFile(AsHandle(handle_), buffer, Chunk(size), &got, &position))
        return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    return int64_t(got);
}

bool OutputFile::Create(const std::u16string& path) {
    Discard();
    HANDLE file = CreateFileW(SystemPath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    handle_ = reinterpret_cast<intptr_t>(file);
    path_ = path;
    return true;
}

bool OutputFile::Write(const void* data, size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        DWORD written = 0;
        if (!WriteFile(AsHandle(handle_), bytes, Chunk(size), &written, nullptr) || written == 0) return false;
        bytes += written;
        size -= written;
    }
    return true;
}

bool OutputFile::Close() {
    if (handle_ == -1) return false;
    const bool closed = CloseHandle(AsHandle(handle_)) != 0;
    handle_ = -1;
    if (!closed) DeleteFileW(SystemPath(path_).c_str());
    return closed;
}

void OutputFile::Discard() {
    if (handle_ == -1) return;
    CloseHandle(AsHandle(handle_));
    handle_ = -1;
    DeleteFileW(SystemPath(path_).c_str());
}

bool MakeDirectory(const std::u16string& path) {
    const std::wstring systemPath = SystemPath(path);
    if (CreateDirectoryW(systemPath.c_str(), nullptr)) return true;
    const DWORD attributes = GetFileAttributesW(systemPath.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

#else  // POSIX

namespace {

// Morvane may compose paths with '\'; the system takes UTF-8 and '/'.
std::string SystemPath(const std::u16string& path) {
    std::u16string slashes = path;
    for (char16_t& c : slashes)
        if (c == u'\\') c = u'/';
    return text::ToUtf8(slashes);
}

}  // namespace

std::unique_ptr<ReadOnlyFile> ReadOnlyFile::Open(const std::u16string& path) {
    const int fd = ::open(SystemPath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<ReadOnlyFile>(new ReadOnlyFile(fd, uint64_t(info.st_size)));
}

ReadOnlyFile::~ReadOnlyFile() { ::close(int(handle_)); }

uint64_t ReadOnlyFile::CurrentSize() const {
    struct stat info {};
    return ::fstat(int(handle_), &info) == 0 ? uint64_t(info.st_size) : 0;
}

int64_t ReadOnlyFile::ReadSome(uint64_t offset, void* buffer, size_t size) {
    for (;;) {
        const ssize_t got = ::pread(int(handle_), buffer, size, off_t(offset));
        if (got < 0 && errno == EINTR) continue;
        return got < 0 ? -1 : int64_t(got);
    }
}

bool OutputFile::Create(const std::u16string& path) {
    Discard();
    const int fd = ::open(SystemPath(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    handle_ = fd;
    path_ = path;
    return true;
}

bool OutputFile::Write(const void* data, size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ssize_t written = ::write(int(handle_), bytes, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes += written;
        size -= size_t(written);
    }
    return true;
}

bool OutputFile::Close() {
    if (handle_ == -1) return false;
    const bool closed = ::close(int(handle_)) == 0;
    handle_ = -1;
    if (!closed) ::unlink(SystemPath(path_).c_str());
    return closed;
}

void OutputFile::Discard() {
    if (handle_ == -1) return;
    ::close(int(handle_));
    handle_ = -1;
    ::unlink(SystemPath(path_).c_str());
}

bool MakeDirectory(const std::u16string& path) {
    const std::string systemPath = SystemPath(path);
    if (::mkdir(systemPath.c_str(), 0777) == 0) return true;
    struct stat info {};
    return ::stat(systemPath.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

#endif

bool ReadOnlyFile::ReadAll(uint64_t offset, void* buffer, size_t size) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        const int64_t got = ReadSome(offset, bytes, size);
        if (got <= 0) return false;
        bytes += got;
        offset += uint64_t(got);
        size -= size_t(got);
    }
    return true;
}

}  // namespace file_access

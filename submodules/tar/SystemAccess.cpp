#include "SystemAccess.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tarmodule {

#if defined(_WIN32)

namespace {

std::wstring ToWide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }

// Paths of MAX_PATH and more need the "\\?\" form, which takes backslashes only.
std::wstring SystemPath(const std::u16string& path) {
    std::wstring wide = ToWide(path);
    if (wide.size() < MAX_PATH - 12 || wide.compare(0, 4, L"\\\\?\\") == 0) return wide;
    for (wchar_t& c : wide)
        if (c == L'/') c = L'\\';
    if (wide.size() > 2 && wide[1] == L':' && wide[2] == L'\\') return L"\\\\?\\" + wide;
    if (wide.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + wide.substr(2);
    return wide;
}

HANDLE AsHandle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

std::unique_ptr<InputFile> InputFile::Open(const std::u16string& path) {
    HANDLE file = CreateFileW(SystemPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    LARGE_INTEGER size;
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &size)) {
        CloseHandle(file);
        return nullptr;
    }
    return std::unique_ptr<InputFile>(new InputFile(reinterpret_cast<intptr_t>(file), uint64_t(size.QuadPart)));
}

InputFile::~InputFile() { CloseHandle(AsHandle(handle_)); }

uint64_t InputFile::CurrentSize() const {
    LARGE_INTEGER size;
    return GetFileSizeEx(AsHandle(handle_), &size) ? uint64_t(size.QuadPart) : 0;
}

bool InputFile::ReadAt(uint64_t offset, void* buffer, size_t size) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        OVERLAPPED position{};
        position.Offset = DWORD(offset);
        position.OffsetHigh = DWORD(offset >> 32);
        const DWORD wanted = size > 0x40000000u ? 0x40000000u : DWORD(size);
        DWORD got = 0;
        if (!ReadFile(AsHandle(handle_), bytes, wanted, &got, &position) || got == 0) return false;
        bytes += got;
        offset += got;
        size -= got;
    }
    return true;
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
        const DWORD wanted = size > 0x40000000u ? 0x40000000u : DWORD(size);
        DWORD written = 0;
        if (!WriteFile(AsHandle(handle_), bytes, wanted, &written, nullptr) || written == 0) return false;
        bytes += written;
        size -= written;
    }
    return true;
}

bool OutputFile::Close() {
    if (handle_ == -1) return false;
    const bool closed = CloseHandle(AsHandle(handle_)) != 0;
    handle_ = -1;
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

bool IsSupportedCodePage(uint32_t codePage) { return codePage == kCodePageUtf8 || IsValidCodePage(codePage); }

std::u16string DecodeText(const std::string& bytes, uint32_t codePage) {
    if (bytes.empty()) return std::u16string();
    const int length = MultiByteToWideChar(codePage, 0, bytes.data(), int(bytes.size()), nullptr, 0);
    if (length <= 0) return std::u16string(bytes.size(), u'\uFFFD');
    std::wstring wide(size_t(length), L'\0');
    MultiByteToWideChar(codePage, 0, bytes.data(), int(bytes.size()), &wide[0], length);
    return std::u16string(wide.begin(), wide.end());
}

#else  // POSIX

namespace {

constexpr uint32_t kCodePageLatin1 = 28591;
constexpr uint32_t kCodePageWindows1252 = 1252;

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

// The host's paths are UTF-16 and may use '\' as Morvane composes them; the system takes UTF-8.
std::string SystemPath(const std::u16string& path) {
    std::string out;
    for (size_t i = 0; i < path.size(); ++i) {
        char32_t c = path[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < path.size() && path[i + 1] >= 0xDC00 && path[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (path[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        AppendUtf8(out, c == u'\\' ? u'/' : c);
    }
    return out;
}

std::u16string DecodeUtf8(const std::string& bytes) {
    std::u16string out;
    const size_t n = bytes.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char lead = static_cast<unsigned char>(bytes[i]);
        size_t extra = 0;
        char32_t c = 0, minimum = 0;
        if (lead < 0x80) {
            out += char16_t(lead);
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            extra = 1, c = lead & 0x1F, minimum = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            extra = 2, c = lead & 0x0F, minimum = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            extra = 3, c = lead & 0x07, minimum = 0x10000;
        } else {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        size_t j = 1;
        for (; j <= extra && i + j < n && (static_cast<unsigned char>(bytes[i + j]) & 0xC0) == 0x80; ++j)
            c = (c << 6) | (static_cast<unsigned char>(bytes[i + j]) & 0x3F);
        if (j <= extra || c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            out += u'\uFFFD';
            i += j;
            continue;
        }
        if (c >= 0x10000) {
            out += char16_t(0xD800 + ((c - 0x10000) >> 10));
            out += char16_t(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += char16_t(c);
        }
        i += j;
    }
    return out;
}

// Windows-1252 differs from Latin-1 only in 0x80-0x9F; its five holes become U+FFFD.
const char16_t kWindows1252High[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178,
};

}  // namespace

std::unique_ptr<InputFile> InputFile::Open(const std::u16string& path) {
    const int fd = ::open(SystemPath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<InputFile>(new InputFile(fd, uint64_t(info.st_size)));
}

InputFile::~InputFile() { ::close(int(handle_)); }

uint64_t InputFile::CurrentSize() const {
    struct stat info {};
    return ::fstat(int(handle_), &info) == 0 ? uint64_t(info.st_size) : 0;
}

bool InputFile::ReadAt(uint64_t offset, void* buffer, size_t size) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        const ssize_t got = ::pread(int(handle_), bytes, size, off_t(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        bytes += got;
        offset += uint64_t(got);
        size -= size_t(got);
    }
    return true;
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

bool IsSupportedCodePage(uint32_t codePage) {
    return codePage == kCodePageUtf8 || codePage == kCodePageLatin1 || codePage == kCodePageWindows1252;
}

std::u16string DecodeText(const std::string& bytes, uint32_t codePage) {
    if (codePage == kCodePageUtf8) return DecodeUtf8(bytes);
    std::u16string out;
    out.reserve(bytes.size());
    for (const char byte : bytes) {
        const unsigned char b = static_cast<unsigned char>(byte);
        out += (codePage == kCodePageWindows1252 && b >= 0x80 && b < 0xA0) ? kWindows1252High[b - 0x80] : char16_t(b);
    }
    return out;
}

#endif

}  // namespace tarmodule

#include "SystemAccess.h"

#include <cstdio>

#include "text/Utf8.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <archive.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <iconv.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace formats {

namespace {

// One pass over the archive file, with a position of its own.
class FileStream : public ByteStream {
public:
    explicit FileStream(ArchiveFile& file) : file_(file) {}
    int64_t Read(void* buffer, size_t size) override {
        const int64_t got = file_.ReadAt(position_, buffer, size);
        if (got > 0) position_ += uint64_t(got);
        return got;
    }
    int64_t Seek(int64_t offset, int whence) override {
        int64_t base = 0;
        if (whence == SEEK_CUR) base = int64_t(position_);
        else if (whence == SEEK_END) base = int64_t(file_.Size());
        else if (whence != SEEK_SET) return -1;
        if (offset < -base) return -1;
        position_ = uint64_t(base + offset);
        return int64_t(position_);
    }

private:
    ArchiveFile& file_;
    uint64_t position_ = 0;
};

}  // namespace

std::unique_ptr<ByteStream> ArchiveFile::OpenStream() { return std::unique_ptr<ByteStream>(new FileStream(*this)); }

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

std::unique_ptr<ArchiveFile> ArchiveFile::Open(const std::u16string& path) {
    HANDLE file = CreateFileW(SystemPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    LARGE_INTEGER size;
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &size)) {
        CloseHandle(file);
        return nullptr;
    }
    return std::unique_ptr<ArchiveFile>(new ArchiveFile(reinterpret_cast<intptr_t>(file), uint64_t(size.QuadPart)));
}

ArchiveFile::~ArchiveFile() { CloseHandle(AsHandle(handle_)); }

int64_t ArchiveFile::ReadAt(uint64_t offset, void* buffer, size_t size) {
    OVERLAPPED position{};
    position.Offset = DWORD(offset);
    position.OffsetHigh = DWORD(offset >> 32);
    const DWORD wanted = size > 0x40000000u ? 0x40000000u : DWORD(size);
    DWORD got = 0;
    if (!ReadFile(AsHandle(handle_), buffer, wanted, &got, &position))
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
    if (!CloseHandle(AsHandle(handle_))) {
        handle_ = -1;
        DeleteFileW(SystemPath(path_).c_str());
        return false;
    }
    handle_ = -1;
    return true;
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

bool IsUsableCodePage(uint32_t codePage, const std::string& /*charset*/) {
    return codePage == 65001 || IsValidCodePage(codePage);
}

std::u16string DecodeText(const std::string& bytes, uint32_t codePage, const std::string& /*charset*/) {
    if (codePage == 65001) return text::FromUtf8(bytes);
    if (bytes.empty()) return std::u16string();
    const int length = MultiByteToWideChar(codePage, 0, bytes.data(), int(bytes.size()), nullptr, 0);
    if (length <= 0) return std::u16string(bytes.size(), u'\uFFFD');
    std::wstring wide(size_t(length), L'\0');
    MultiByteToWideChar(codePage, 0, bytes.data(), int(bytes.size()), &wide[0], length);
    return std::u16string(wide.begin(), wide.end());
}

bool PrepareSystemAccess() { return true; }
void ReleaseSystemAccess() {}
TextLocaleScope::TextLocaleScope() {}
TextLocaleScope::~TextLocaleScope() {}

#else  // POSIX

namespace {

// The host's paths are UTF-16 and may use '\' as Morvane composes them; the system takes UTF-8.
std::string SystemPath(const std::u16string& path) {
    std::u16string slashes = path;
    for (char16_t& c : slashes)
        if (c == u'\\') c = u'/';
    return text::ToUtf8(slashes);
}

// Made by PrepareTextLocale before any container exists, freed after the last one is gone.
locale_t utf8Locale = locale_t(0);

}  // namespace

std::unique_ptr<ArchiveFile> ArchiveFile::Open(const std::u16string& path) {
    const int fd = ::open(SystemPath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<ArchiveFile>(new ArchiveFile(fd, uint64_t(info.st_size)));
}

ArchiveFile::~ArchiveFile() { ::close(int(handle_)); }

int64_t ArchiveFile::ReadAt(uint64_t offset, void* buffer, size_t size) {
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

bool IsUsableCodePage(uint32_t codePage, const std::string& charset) {
    if (codePage == 65001) return true;
    const iconv_t converter = iconv_open("UTF-16LE", charset.c_str());
    if (converter == iconv_t(-1)) return false;
    iconv_close(converter);
    return true;
}

std::u16string DecodeText(const std::string& bytes, uint32_t codePage, const std::string& charset) {
    if (codePage == 65001) return text::FromUtf8(bytes);
    std::u16string result;
    const iconv_t converter = iconv_open("UTF-16LE", charset.c_str());
    if (converter == iconv_t(-1)) return std::u16string(bytes.size(), u'\uFFFD');
    std::string input = bytes;
    char* in = &input[0];
    size_t inLeft = input.size();
    while (inLeft > 0) {
        char16_t units[256];
        char* out = reinterpret_cast<char*>(units);
        size_t outLeft = sizeof units;
        const size_t done = iconv(converter, &in, &inLeft, &out, &outLeft);
        const size_t count = (sizeof units - outLeft) / sizeof(char16_t);
        for (size_t i = 0; i < count; ++i) {
            const auto* raw = reinterpret_cast<const unsigned char*>(&units[i]);
            result += char16_t(raw[0] | (raw[1] << 8));
        }
        if (done == size_t(-1) && errno != E2BIG) {
            // An undecodable byte: mark it and go on after it.
            result += u'\uFFFD';
            ++in;
            --inLeft;
        }
    }
    iconv_close(converter);
    return result;
}

bool PrepareSystemAccess() {
    Dl_info library{};
    if (dladdr(reinterpret_cast<void*>(&archive_read_new), &library) && library.dli_fname)
        dlopen(library.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
    if (!utf8Locale) utf8Locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(0));
    return utf8Locale != locale_t(0);
}

void ReleaseSystemAccess() {
    if (utf8Locale) freelocale(utf8Locale);
    utf8Locale = locale_t(0);
}

TextLocaleScope::TextLocaleScope() {
    if (utf8Locale) previous_ = uselocale(utf8Locale);
}

TextLocaleScope::~TextLocaleScope() {
    if (previous_) uselocale(static_cast<locale_t>(previous_));
}

#endif

}  // namespace formats

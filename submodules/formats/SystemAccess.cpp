#include "SystemAccess.h"

#include <cstdio>

#include "VolumeNames.h"
#include "text/Utf8.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <archive.h>
#include <dlfcn.h>
#include <errno.h>
#include <iconv.h>
#include <locale.h>
#endif

namespace formats {

namespace {

// One pass over one file of the archive, with a position of its own.
class FileStream : public ByteStream {
public:
    explicit FileStream(file_access::ReadOnlyFile& file) : file_(file) {}
    int64_t Read(void* buffer, size_t size) override {
        const int64_t got = file_.ReadSome(position_, buffer, size);
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
    file_access::ReadOnlyFile& file_;
    uint64_t position_ = 0;
};

}  // namespace

ArchiveFile::ArchiveFile(const std::u16string& path, std::unique_ptr<file_access::ReadOnlyFile> file) : path_(path) {
    files_.push_back(std::move(file));
}

std::unique_ptr<ArchiveFile> ArchiveFile::Open(const std::u16string& path) {
    std::unique_ptr<file_access::ReadOnlyFile> file = file_access::ReadOnlyFile::Open(path);
    if (!file) return nullptr;
    return std::unique_ptr<ArchiveFile>(new ArchiveFile(path, std::move(file)));
}

size_t ArchiveFile::OpenLaterVolumes() {
    size_t opened = 0;
    for (;;) {
        const std::u16string name = LaterVolumeName(path_, files_.size());
        std::unique_ptr<file_access::ReadOnlyFile> file = name.empty() ? nullptr : file_access::ReadOnlyFile::Open(name);
        if (!file) return opened;
        files_.push_back(std::move(file));
        ++opened;
    }
}

std::unique_ptr<ByteStream> ArchiveFile::OpenStream(size_t volume) {
    if (volume >= files_.size()) return nullptr;
    return std::unique_ptr<ByteStream>(new FileStream(*files_[volume]));
}

#if defined(_WIN32)

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

// Made by PrepareSystemAccess before any container exists, freed after the last one is gone.
locale_t utf8Locale = locale_t(0);

}  // namespace

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

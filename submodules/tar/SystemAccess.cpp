#include "SystemAccess.h"

#include "text/Utf8.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace tarmodule {

std::unique_ptr<InputFile> InputFile::Open(const std::u16string& path) {
    std::unique_ptr<file_access::ReadOnlyFile> file = file_access::ReadOnlyFile::Open(path);
    if (!file) return nullptr;
    return std::unique_ptr<InputFile>(new InputFile(std::move(file)));
}

#if defined(_WIN32)

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

// Windows-1252 differs from Latin-1 only in 0x80-0x9F; its five holes become U+FFFD.
const char16_t kWindows1252High[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178,
};

}  // namespace

bool IsSupportedCodePage(uint32_t codePage) {
    return codePage == kCodePageUtf8 || codePage == kCodePageLatin1 || codePage == kCodePageWindows1252;
}

std::u16string DecodeText(const std::string& bytes, uint32_t codePage) {
    if (codePage == kCodePageUtf8) return text::FromUtf8(bytes);
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

// What the formats sub-module asks of the operating system: reading the archive, writing
// extracted files and creating directories (shared with the other sub-modules), decoding names
// from a code page, and the character locale that libarchive converts names in. SystemAccess.cpp
// is the module's only file with Windows/POSIX differences.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ByteSource.h"
#include "FileAccess.h"

namespace formats {

using file_access::MakeDirectory;
using file_access::OutputFile;

// The archive, opened once for reading, with the later volumes of a multi-volume set when it
// has them; every stream reads one file from the start with a position of its own. Safe to use
// from one thread at a time.
class ArchiveFile : public ByteSource {
public:
    // Null when the path cannot be opened as a regular file.
    static std::unique_ptr<ArchiveFile> Open(const std::u16string& path);

    // Opens the later volumes of the set whose first volume this file is (VolumeNames.h), one
    // after the other until one cannot be opened: how many there were.
    size_t OpenLaterVolumes();

    size_t Volumes() const override { return files_.size(); }
    // The size of the first volume, the file that was opened.
    uint64_t Size() const { return files_.front()->Size(); }
    std::unique_ptr<ByteStream> OpenStream(size_t volume) override;

private:
    ArchiveFile(const std::u16string& path, std::unique_ptr<file_access::ReadOnlyFile> file);
    std::u16string path_;
    std::vector<std::unique_ptr<file_access::ReadOnlyFile>> files_;
};

// Whether names in this code page (named `charset` by libarchive and iconv) can be decoded.
bool IsUsableCodePage(uint32_t codePage, const std::string& charset);
// Bytes in the code page as UTF-16; what cannot be decoded becomes U+FFFD.
std::u16string DecodeText(const std::string& bytes, uint32_t codePage, const std::string& charset);

// In LoadSubModule and UnloadSubModule: what the system needs before the first container and
// after the last. On POSIX systems, the UTF-8 locale for TextLocaleScope, and libarchive is kept
// loaded once loaded: its XML parser (libxml2) keeps global state that would be lost with it.
bool PrepareSystemAccess();
void ReleaseSystemAccess();

// libarchive converts names into the calling thread's character locale. On POSIX systems this
// makes that locale UTF-8 for as long as the scope lives, for this thread only; Windows needs
// nothing, as libarchive converts names to UTF-16 there.
class TextLocaleScope {
public:
    TextLocaleScope();
    ~TextLocaleScope();
    TextLocaleScope(const TextLocaleScope&) = delete;
    TextLocaleScope& operator=(const TextLocaleScope&) = delete;

private:
    void* previous_ = nullptr;
};

}  // namespace formats

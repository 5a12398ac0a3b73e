// What the tar sub-module asks of the operating system: reading the archive, writing extracted
// files and creating directories (shared with the other sub-modules), and decoding names from a
// code page. SystemAccess.cpp is the only file of the sub-module that differs between Windows
// and POSIX.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "FileAccess.h"
#include "TarReader.h"

namespace tarmodule {

using file_access::kPathSeparator;
using file_access::MakeDirectory;
using file_access::OutputFile;

constexpr uint32_t kCodePageUtf8 = 65001;

// The archive as TarReader reads it.
class InputFile : public tar::Input {
public:
    // Null when the path cannot be opened as a regular file.
    static std::unique_ptr<InputFile> Open(const std::u16string& path);

    uint64_t Size() const override { return file_->Size(); }
    bool ReadAt(uint64_t offset, void* buffer, size_t size) override { return file_->ReadAll(offset, buffer, size); }
    // The size now, which differs from Size() when the file changed after it was opened.
    uint64_t CurrentSize() const { return file_->CurrentSize(); }

private:
    explicit InputFile(std::unique_ptr<file_access::ReadOnlyFile> file) : file_(std::move(file)) {}
    std::unique_ptr<file_access::ReadOnlyFile> file_;
};

bool IsSupportedCodePage(uint32_t codePage);

// Names in the archive are bytes; this turns them into UTF-16 in the given code page.
// Invalid sequences become U+FFFD.
std::u16string DecodeText(const std::string& bytes, uint32_t codePage);

}  // namespace tarmodule

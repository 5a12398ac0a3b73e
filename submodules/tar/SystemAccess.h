// What the tar sub-module asks of the operating system: reading the archive, writing extracted
// files, creating directories and decoding names from a code page. SystemAccess.cpp is the only
// file of the sub-module that differs between Windows and POSIX.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "TarReader.h"

namespace tarmodule {

#if defined(_WIN32)
constexpr char16_t kPathSeparator = u'\\';
#else
constexpr char16_t kPathSeparator = u'/';
#endif

constexpr uint32_t kCodePageUtf8 = 65001;

// The archive, opened for reading at any offset. Safe to use from one thread at a time.
class InputFile : public tar::Input {
public:
    // Null when the path cannot be opened as a regular file.
    static std::unique_ptr<InputFile> Open(const std::u16string& path);
    ~InputFile() override;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    uint64_t Size() const override { return size_; }
    bool ReadAt(uint64_t offset, void* buffer, size_t size) override;
    // The size now, which differs from Size() when the file changed after it was opened.
    uint64_t CurrentSize() const;

private:
    InputFile(intptr_t handle, uint64_t size) : handle_(handle), size_(size) {}
    intptr_t handle_;
    uint64_t size_;
};

// A file being extracted. It is created empty, replacing an existing file of that name.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile() { Discard(); }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool Create(const std::u16string& path);
    bool Write(const void* data, size_t size);
    // Closes the file; false when the last writes could not be completed.
    bool Close();
    // Closes and deletes a file that could not be completed; nothing when none is open.
    void Discard();

private:
    intptr_t handle_ = -1;
    std::u16string path_;
};

// True when the directory exists afterwards.
bool MakeDirectory(const std::u16string& path);

bool IsSupportedCodePage(uint32_t codePage);

// Names in the archive are bytes; this turns them into UTF-16 in the given code page.
// Invalid sequences become U+FFFD.
std::u16string DecodeText(const std::string& bytes, uint32_t codePage);

}  // namespace tarmodule

// Files as the sub-modules use them: the archive, read at any offset; a file being extracted,
// deleted again unless it is completed; and directories. Paths come as Morvane hands them over
// (UTF-16): on Windows long ones take the "\\?\" form, on POSIX systems they become UTF-8 with
// '/'. This is the sub-modules' only code with Windows/POSIX differences in file handling.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace file_access {

#if defined(_WIN32)
constexpr char16_t kPathSeparator = u'\\';
#else
constexpr char16_t kPathSeparator = u'/';
#endif

// A regular file opened for reading. Safe to use from one thread at a time.
class ReadOnlyFile {
public:
    // Null when the path cannot be opened as a regular file.
    static std::unique_ptr<ReadOnlyFile> Open(const std::u16string& path);
    ~ReadOnlyFile();
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    // The size when it was opened.
    uint64_t Size() const { return size_; }
    // The size now, which differs from Size() when the file changed after it was opened.
    uint64_t CurrentSize() const;
    // Up to size bytes at offset: how many were read (0 at the end), -1 on an error.
    int64_t ReadSome(uint64_t offset, void* buffer, size_t size);
    // Exactly size bytes at offset; false at an error or the end of the file.
    bool ReadAll(uint64_t offset, void* buffer, size_t size);

private:
    ReadOnlyFile(intptr_t handle, uint64_t size) : handle_(handle), size_(size) {}
    intptr_t handle_;
    uint64_t size_;
};

// A file being extracted, created empty (replacing a file of that name). Unless it is closed
// successfully, it is deleted again: a failed extraction leaves nothing behind.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile() { Discard(); }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool Create(const std::u16string& path);
    bool Write(const void* data, size_t size);
    // Closes the file; false when the last writes could not be completed (the file is deleted).
    bool Close();
    // Closes and deletes the file; nothing when none is open.
    void Discard();

private:
    intptr_t handle_ = -1;
    std::u16string path_;
};

// True when the directory exists afterwards.
bool MakeDirectory(const std::u16string& path);

}  // namespace file_access

// Where an archive's bytes come from. libarchive reads an archive in one forward pass (with
// seeks for formats that keep their directory at the end); going back to an earlier entry
// means a new pass, that is new streams from the same source. A multi-volume archive comes in
// several volumes, which libarchive reads one after the other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace formats {

class ByteStream {
public:
    virtual ~ByteStream() = default;
    // Up to `size` bytes from the current position: how many were read, 0 at the end, -1 on a
    // read error.
    virtual int64_t Read(void* buffer, size_t size) = 0;
    // Moves the position (whence as for fseek: SEEK_SET, SEEK_CUR, SEEK_END); the new position
    // or -1.
    virtual int64_t Seek(int64_t offset, int whence) = 0;
};

class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual size_t Volumes() const { return 1; }
    // A stream positioned at the first byte of a volume (0 is the first); null when the bytes
    // cannot be read.
    virtual std::unique_ptr<ByteStream> OpenStream(size_t volume) = 0;
};

}  // namespace formats

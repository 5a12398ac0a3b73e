// The streams that the module hands to 7-Zip: a file read at any position, and the place that an
// item's data is written to.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>

#include "ComSupport.h"
#include "SystemAccess.h"

namespace sevenzip {

// A file that 7-Zip reads and seeks in, with a position of its own. Remembers whether reading
// the file itself ever failed, as opposed to its content being bad.
class FileInStream final : public IInStream {
public:
    explicit FileInStream(std::shared_ptr<ReadOnlyFile> file) : file_(std::move(file)) {}

    HResult SEVENZIP_CALL QueryInterface(const Guid& iid, void** object) override;
    HResult SEVENZIP_CALL Read(void* data, uint32_t size, uint32_t* processed) override;
    HResult SEVENZIP_CALL Seek(int64_t offset, uint32_t origin, uint64_t* position) override;
    SEVENZIP_REFERENCE_COUNTED

    bool Failed() const { return failed_; }

private:
    ~FileInStream() = default;
    std::shared_ptr<ReadOnlyFile> file_;
    uint64_t position_ = 0;
    std::atomic<bool> failed_{false};
};

// Where 7-Zip's output goes.
class DataSink {
public:
    virtual ~DataSink() = default;
    // False stops the extraction.
    virtual bool Write(const void* data, size_t size) = 0;
};

class SinkOutStream final : public ISequentialOutStream {
public:
    explicit SinkOutStream(DataSink& sink) : sink_(sink) {}

    HResult SEVENZIP_CALL QueryInterface(const Guid& iid, void** object) override;
    HResult SEVENZIP_CALL Write(const void* data, uint32_t size, uint32_t* processed) override;
    SEVENZIP_REFERENCE_COUNTED

private:
    ~SinkOutStream() = default;
    DataSink& sink_;
};

// 7-Zip's Seek arithmetic: the new position from a base and an offset; false when it would lie
// before the start.
bool SeekTarget(uint64_t current, uint64_t size, int64_t offset, uint32_t origin, uint64_t& target);

}  // namespace sevenzip

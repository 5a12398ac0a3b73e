// The single item of a compressed stream (gzip, bzip2, xz, zstd, Z) as a stream that can be read
// and sought anywhere, so that the tar inside can be opened as an archive of its own: a thread
// extracts the item into a bounded queue that this stream reads from. Seeking forward reads past
// what lies between; seeking back before what is queued starts the extraction again, except into
// the first bytes, which are kept. The size is known once the extraction has reached the end.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "ComSupport.h"
#include "Streams.h"
#include "SystemAccess.h"

namespace sevenzip {

class DecodedStream final : public IInStream {
public:
    // Extracts item `index` of `source`, which nothing else may use while this stream lives.
    DecodedStream(ComPointer<IInArchive> source, uint32_t index);

    HResult SEVENZIP_CALL QueryInterface(const Guid& iid, void** object) override;
    HResult SEVENZIP_CALL Read(void* data, uint32_t size, uint32_t* processed) override;
    HResult SEVENZIP_CALL Seek(int64_t offset, uint32_t origin, uint64_t* position) override;
    SEVENZIP_REFERENCE_COUNTED

    // Stops the extraction; reads fail afterwards. Called before the stream's last user goes.
    void Stop();
    // How many times the item was extracted from its start.
    int Runs() const { return runs_; }

private:
    ~DecodedStream();
    class Producer;
    friend class Producer;

    // Under the monitor: starts a new extraction from the item's first byte.
    bool Restart();
    void Produce();
    // Under the monitor: waits for queued bytes or the end; false at the end or a failure.
    bool AwaitData();
    // Under the monitor: drops queued bytes up to `position` (within the queue).
    void DropBefore(uint64_t position);

    ComPointer<IInArchive> source_;
    const uint32_t index_;
    Monitor monitor_;
    Thread thread_;
    int runs_ = 0;

    // Shared with the extraction thread, under the monitor.
    std::deque<std::vector<uint8_t>> queue_;
    size_t queueFront_ = 0;     // bytes already taken from the first chunk
    uint64_t queuedFrom_ = 0;   // the stream position of the first queued byte
    uint64_t queuedBytes_ = 0;
    bool ended_ = false;        // the extraction has returned
    bool failed_ = false;       // it ended with an error
    bool stopping_ = false;     // the thread is to give up
    bool closed_ = false;       // Stop was called: no further runs
    std::string head_;          // the first bytes of the item, kept across runs
    bool sizeKnown_ = false;
    uint64_t size_ = 0;

    uint64_t position_ = 0;  // the reader's
};

}  // namespace sevenzip

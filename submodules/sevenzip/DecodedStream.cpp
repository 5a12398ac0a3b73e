#include "DecodedStream.h"

#include <algorithm>
#include <cstring>

namespace sevenzip {

namespace {

// Kept across runs: detecting the format inside and a handler's first look read no further.
constexpr size_t kHeadBytes = 1u << 20;
// The extraction waits while this much is queued and unread.
constexpr uint64_t kQueueLimit = 4u << 20;

}  // namespace

// The extraction's callback and the stream it writes the item into, on the extraction thread.
class DecodedStream::Producer final : public IArchiveExtractCallback, public ISequentialOutStream {
public:
    explicit Producer(DecodedStream& owner) : owner_(owner) {}

    HResult SEVENZIP_CALL QueryInterface(const Guid& iid, void** object) override {
        if (iid == kIidUnknown || iid == kIidProgress || iid == kIidArchiveExtractCallback) {
            *object = static_cast<IArchiveExtractCallback*>(this);
        } else if (iid == kIidSequentialOutStream) {
            *object = static_cast<ISequentialOutStream*>(this);
        } else {
            *object = nullptr;
            return kNoInterface;
        }
        AddRef();
        return kOk;
    }
    HResult SEVENZIP_CALL SetTotal(uint64_t) override { return kOk; }
    HResult SEVENZIP_CALL SetCompleted(const uint64_t*) override { return kOk; }
    HResult SEVENZIP_CALL GetStream(uint32_t, ISequentialOutStream** stream, int32_t askMode) override {
        *stream = nullptr;
        if (askMode != kAskExtract) return kOk;
        *stream = static_cast<ISequentialOutStream*>(this);
        AddRef();
        return kOk;
    }
    HResult SEVENZIP_CALL PrepareOperation(int32_t) override { return kOk; }
    HResult SEVENZIP_CALL SetOperationResult(int32_t result) override {
        result_ = result;
        return kOk;
    }
    HResult SEVENZIP_CALL Write(const void* data, uint32_t size, uint32_t* processed) override;
    SEVENZIP_REFERENCE_COUNTED

    // Whether the item came out whole (data after its end is another matter).
    bool Complete() const { return result_ == kResultOk || result_ == kResultDataAfterEnd; }

private:
    ~Producer() = default;
    DecodedStream& owner_;
    int32_t result_ = -1;
};

HResult DecodedStream::Producer::Write(const void* data, uint32_t size, uint32_t* processed) {
    if (processed) *processed = 0;
    DecodedStream& owner = owner_;
    MonitorScope scope(owner.monitor_);
    while (!owner.stopping_ && owner.queuedBytes_ >= kQueueLimit) owner.monitor_.Wait();
    if (owner.stopping_) return kAbort;
    const auto* bytes = static_cast<const uint8_t*>(data);
    const uint64_t end = owner.queuedFrom_ + owner.queuedBytes_;
    if (end == owner.head_.size() && end < kHeadBytes)
        owner.head_.append(reinterpret_cast<const char*>(bytes), size_t(std::min<uint64_t>(size, kHeadBytes - end)));
    if (size > 0) {
        owner.queue_.emplace_back(bytes, bytes + size);
        owner.queuedBytes_ += size;
    }
    owner.monitor_.WakeAll();
    if (processed) *processed = size;
    return kOk;
}

DecodedStream::DecodedStream(ComPointer<IInArchive> source, uint32_t index) : source_(std::move(source)), index_(index) {}

DecodedStream::~DecodedStream() { Stop(); }

HResult DecodedStream::QueryInterface(const Guid& iid, void** object) {
    if (iid == kIidUnknown || iid == kIidSequentialInStream || iid == kIidInStream) {
        *object = static_cast<IInStream*>(this);
        AddRef();
        return kOk;
    }
    *object = nullptr;
    return kNoInterface;
}

void DecodedStream::Stop() {
    monitor_.Enter();
    stopping_ = closed_ = true;
    monitor_.WakeAll();
    monitor_.Leave();
    thread_.Join();
}

void DecodedStream::Produce() {
    ComPointer<Producer> producer = ComPointer<Producer>::Adopt(new Producer(*this));
    const HResult result = source_->Extract(&index_, 1, 0, producer.Get());
    MonitorScope scope(monitor_);
    ended_ = true;
    failed_ = result != kOk || !producer->Complete();
    if (!failed_) {
        sizeKnown_ = true;
        size_ = queuedFrom_ + queuedBytes_;
    }
    monitor_.WakeAll();
}

bool DecodedStream::Restart() {
    stopping_ = true;
    monitor_.WakeAll();
    monitor_.Leave();
    thread_.Join();
    monitor_.Enter();
    if (closed_) return false;
    queue_.clear();
    queueFront_ = 0;
    queuedFrom_ = queuedBytes_ = 0;
    ended_ = failed_ = stopping_ = false;
    ++runs_;
    if (!thread_.Start([this] { Produce(); })) ended_ = failed_ = true;
    return !failed_;
}

void DecodedStream::DropBefore(uint64_t position) {
    while (queuedBytes_ > 0 && queuedFrom_ < position) {
        std::vector<uint8_t>& chunk = queue_.front();
        const size_t skip = size_t(std::min<uint64_t>(chunk.size() - queueFront_, position - queuedFrom_));
        queueFront_ += skip;
        queuedFrom_ += skip;
        queuedBytes_ -= skip;
        if (queueFront_ == chunk.size()) {
            queue_.pop_front();
            queueFront_ = 0;
        }
    }
    monitor_.WakeAll();
}

bool DecodedStream::AwaitData() {
    while (queuedBytes_ == 0 && !ended_) monitor_.Wait();
    return queuedBytes_ > 0;
}

HResult DecodedStream::Read(void* data, uint32_t size, uint32_t* processed) {
    if (processed) *processed = 0;
    if (size == 0) return kOk;
    MonitorScope scope(monitor_);
    if (closed_) return kFail;
    if (sizeKnown_ && position_ >= size_) return kOk;
    uint32_t done = 0;
    if (position_ < head_.size()) {
        done = uint32_t(std::min<uint64_t>(size, head_.size() - position_));
        std::memcpy(data, head_.data() + position_, done);
    } else {
        if ((runs_ == 0 || position_ < queuedFrom_) && !Restart()) return kFail;
        for (;;) {
            DropBefore(position_);
            if (queuedFrom_ == position_ && queuedBytes_ > 0) break;
            if (!AwaitData()) {
                if (failed_) return kFail;
                return kOk;  // the item ends before the position
            }
        }
        const std::vector<uint8_t>& chunk = queue_.front();
        done = uint32_t(std::min<uint64_t>(size, chunk.size() - queueFront_));
        std::memcpy(data, chunk.data() + queueFront_, done);
        DropBefore(position_ + done);
    }
    position_ += done;
    if (processed) *processed = done;
    return kOk;
}

HResult DecodedStream::Seek(int64_t offset, uint32_t origin, uint64_t* position) {
    MonitorScope scope(monitor_);
    if (closed_) return kFail;
    if (origin == kSeekEnd && !sizeKnown_) {
        // The size is known only at the end: read through to it once.
        if ((runs_ == 0 || (ended_ && failed_)) && !Restart()) return kFail;
        for (;;) {
            DropBefore(queuedFrom_ + queuedBytes_);
            if (ended_) break;
            monitor_.Wait();
        }
        if (!sizeKnown_) return kFail;
    }
    uint64_t target = 0;
    if (!SeekTarget(position_, size_, offset, origin, target)) return kFail;
    position_ = target;
    if (position) *position = target;
    return kOk;
}

}  // namespace sevenzip

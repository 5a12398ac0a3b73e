#include "RunningExtraction.h"

namespace sevenzip {

namespace {

// Progress reaches the host in steps of about this size.
constexpr uint64_t kProgressStep = 1u << 20;

// The callback of a one-item extraction on the calling thread.
class SingleItemCallback final : public IArchiveExtractCallback, public ICryptoGetTextPassword {
public:
    SingleItemCallback(DataSink& sink, std::shared_ptr<PasswordState> password) : sink_(sink), password_(std::move(password)) {}

    HResult SEVENZIP_CALL QueryInterface(const Guid& iid, void** object) override {
        if (iid == kIidUnknown || iid == kIidProgress || iid == kIidArchiveExtractCallback) {
            *object = static_cast<IArchiveExtractCallback*>(this);
        } else if (iid == kIidCryptoGetTextPassword) {
            *object = static_cast<ICryptoGetTextPassword*>(this);
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
        if (askMode == kAskExtract) *stream = new SinkOutStream(sink_);
        return kOk;
    }
    HResult SEVENZIP_CALL PrepareOperation(int32_t) override { return kOk; }
    HResult SEVENZIP_CALL SetOperationResult(int32_t result) override {
        result_ = result;
        reported_ = true;
        return kOk;
    }
    HResult SEVENZIP_CALL CryptoGetTextPassword(Bstr* password) override { return password_->Answer(password); }
    SEVENZIP_REFERENCE_COUNTED

    bool reported_ = false;
    int32_t result_ = kResultUnavailable;

private:
    ~SingleItemCallback() = default;
    DataSink& sink_;
    std::shared_ptr<PasswordState> password_;
};

class LimitedSink : public DataSink {
public:
    explicit LimitedSink(uint64_t limit) : left_(limit) {}
    bool Write(const void*, size_t size) override {
        if (size >= left_) {
            left_ = 0;
            return false;
        }
        left_ -= size;
        return true;
    }
    bool Reached() const { return left_ == 0; }

private:
    uint64_t left_;
};

bool Succeeded(int32_t result) { return result == kResultOk || result == kResultDataAfterEnd; }

}  // namespace

bool PasswordOpensItem(IInArchive& archive, uint32_t item, std::shared_ptr<PasswordState> password, uint64_t limit) {
    LimitedSink sink(limit);
    ComPointer<SingleItemCallback> callback =
        ComPointer<SingleItemCallback>::Adopt(new SingleItemCallback(sink, std::move(password)));
    const HResult answer = archive.Extract(&item, 1, 0, callback.Get());
    if (callback->reported_) return Succeeded(callback->result_);
    // Stopped at the limit with nothing bad seen so far.
    return sink.Reached() || answer == kOk;
}

// The running extraction's callback and the stream it writes the asked item into, on its thread.
class RunningExtraction::Callback final : public IArchiveExtractCallback,
                                          public ICryptoGetTextPassword,
                                          public ISequentialOutStream {
public:
    explicit Callback(RunningExtraction& owner) : owner_(owner) {}

    HResult SEVENZIP_CALL QueryInterface(const Guid& iid, void** object) override {
        if (iid == kIidUnknown || iid == kIidProgress || iid == kIidArchiveExtractCallback) {
            *object = static_cast<IArchiveExtractCallback*>(this);
        } else if (iid == kIidCryptoGetTextPassword) {
            *object = static_cast<ICryptoGetTextPassword*>(this);
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
    HResult SEVENZIP_CALL CryptoGetTextPassword(Bstr* password) override { return owner_.password_->Answer(password); }

    HResult SEVENZIP_CALL GetStream(uint32_t index, ISequentialOutStream** stream, int32_t askMode) override {
        *stream = nullptr;
        RunningExtraction& owner = owner_;
        MonitorScope scope(owner.monitor_);
        // 7-Zip went past the asked item, whether it never reached it or gave no result for it: the
        // host learns that it cannot be had from this run.
        if (owner.wanted_ >= 0 && owner.wanted_ < int64_t(index) && !owner.done_) {
            owner.delivering_ = false;
            owner.done_ = true;
            owner.result_ = kResultUnavailable;
            owner.monitor_.WakeAll();
        }
        while (!owner.stop_ && owner.wanted_ < int64_t(index)) owner.monitor_.Wait();
        if (owner.stop_) return kAbort;
        owner.next_ = index + 1;
        if (owner.wanted_ == int64_t(index) && !owner.done_ && askMode == kAskExtract) {
            sink_ = owner.sink_;
            owner.delivering_ = true;
            *stream = static_cast<ISequentialOutStream*>(this);
            AddRef();
        }
        return kOk;  // no stream: 7-Zip reads past the item
    }
    HResult SEVENZIP_CALL PrepareOperation(int32_t) override { return kOk; }
    HResult SEVENZIP_CALL SetOperationResult(int32_t result) override {
        RunningExtraction& owner = owner_;
        MonitorScope scope(owner.monitor_);
        if (owner.delivering_) {
            owner.delivering_ = false;
            owner.done_ = true;
            owner.result_ = result;
            owner.monitor_.WakeAll();
        }
        return kOk;
    }
    HResult SEVENZIP_CALL Write(const void* data, uint32_t size, uint32_t* processed) override {
        if (processed) *processed = 0;
        RunningExtraction& owner = owner_;
        // The host waits until the item is done: its sink is used by this thread alone meanwhile.
        const bool written = size == 0 || (sink_ && sink_->Write(data, size));
        MonitorScope scope(owner.monitor_);
        if (!written) {
            owner.writeFailed_ = true;
            return kAbort;
        }
        owner.pending_ += size;
        if (owner.pending_ >= kProgressStep) owner.monitor_.WakeAll();
        if (processed) *processed = size;
        return kOk;
    }
    SEVENZIP_REFERENCE_COUNTED

private:
    ~Callback() = default;
    RunningExtraction& owner_;
    DataSink* sink_ = nullptr;
};

bool RunningExtraction::Restart(uint32_t item) {
    stop_ = true;
    monitor_.WakeAll();
    monitor_.Leave();
    thread_.Join();
    monitor_.Enter();
    stop_ = finished_ = done_ = delivering_ = false;
    finishResult_ = kOk;
    next_ = item;
    wanted_ = -1;
    indices_.clear();
    for (uint32_t index = item; index < itemCount_; ++index) indices_.push_back(index);
    ++runs_;
    started_ = thread_.Start([this] {
        ComPointer<Callback> callback = ComPointer<Callback>::Adopt(new Callback(*this));
        const HResult result = archive_->Extract(indices_.data(), uint32_t(indices_.size()), 0, callback.Get());
        MonitorScope scope(monitor_);
        finished_ = true;
        finishResult_ = result;
        delivering_ = false;
        monitor_.WakeAll();
    });
    return started_;
}

ItemOutcome RunningExtraction::Extract(uint32_t item, DataSink& sink, const std::function<void(uint64_t)>& progress) {
    ItemOutcome outcome;
    MonitorScope scope(monitor_);
    if ((!started_ || finished_ || item < next_ || wanted_ >= int64_t(item)) && !Restart(item)) return outcome;
    wanted_ = item;
    sink_ = &sink;
    done_ = writeFailed_ = false;
    pending_ = 0;
    monitor_.WakeAll();
    for (;;) {
        while (!done_ && !finished_ && pending_ < kProgressStep) monitor_.Wait();
        if (pending_ > 0) {
            const uint64_t amount = pending_;
            pending_ = 0;
            monitor_.Leave();
            progress(amount);
            monitor_.Enter();
        }
        if ((done_ || finished_) && pending_ == 0) break;
    }
    sink_ = nullptr;
    if (done_) {
        outcome.kind = ItemOutcome::Extracted;
        outcome.result = result_;
    } else if (writeFailed_) {
        outcome.kind = ItemOutcome::WriteFailed;
    } else {
        outcome.error = finishResult_;
    }
    return outcome;
}

void RunningExtraction::Stop() {
    monitor_.Enter();
    stop_ = true;
    monitor_.WakeAll();
    monitor_.Leave();
    thread_.Join();
}

}  // namespace sevenzip

#include "Streams.h"

namespace sevenzip {

bool SeekTarget(uint64_t current, uint64_t size, int64_t offset, uint32_t origin, uint64_t& target) {
    uint64_t base = 0;
    switch (origin) {
    case kSeekSet: break;
    case kSeekCurrent: base = current; break;
    case kSeekEnd: base = size; break;
    default: return false;
    }
    if (offset < 0 && uint64_t(-(offset + 1)) + 1 > base) return false;
    target = base + uint64_t(offset);
    return true;
}

HResult FileInStream::QueryInterface(const Guid& iid, void** object) {
    if (iid == kIidUnknown || iid == kIidSequentialInStream || iid == kIidInStream) {
        *object = static_cast<IInStream*>(this);
        AddRef();
        return kOk;
    }
    *object = nullptr;
    return kNoInterface;
}

HResult FileInStream::Read(void* data, uint32_t size, uint32_t* processed) {
    if (processed) *processed = 0;
    if (size == 0) return kOk;
    const int64_t got = file_->ReadSome(position_, data, size);
    if (got < 0) {
        failed_ = true;
        return kFail;
    }
    position_ += uint64_t(got);
    if (processed) *processed = uint32_t(got);
    return kOk;
}

HResult FileInStream::Seek(int64_t offset, uint32_t origin, uint64_t* position) {
    uint64_t target = 0;
    // 7-Zip's own file streams answer a seek before the start with "negative seek" (an error).
    if (!SeekTarget(position_, file_->Size(), offset, origin, target)) return kFail;
    position_ = target;
    if (position) *position = position_;
    return kOk;
}

HResult SinkOutStream::QueryInterface(const Guid& iid, void** object) {
    if (iid == kIidUnknown || iid == kIidSequentialOutStream) {
        *object = static_cast<ISequentialOutStream*>(this);
        AddRef();
        return kOk;
    }
    *object = nullptr;
    return kNoInterface;
}

HResult SinkOutStream::Write(const void* data, uint32_t size, uint32_t* processed) {
    if (processed) *processed = 0;
    if (size > 0 && !sink_.Write(data, size)) return kAbort;
    if (processed) *processed = size;
    return kOk;
}

}  // namespace sevenzip

#include "HandleWatch.h"

#include <utility>

namespace modcheck {

namespace {

constexpr int kPlantAttempts = 16;

}  // namespace

HandleWatch::HandleWatch(std::filesystem::path canaryFile) : canaryFile_(std::move(canaryFile)) {
    canaryKnown_ = sys::IdentifyPath(canaryFile_, canaryId_);
}

HandleWatch::~HandleWatch() {
    for (const sys::Handle canary : canaries_) sys::CloseFileHandle(canary);
}

void HandleWatch::Begin() {
    const std::vector<sys::Handle> open = sys::OpenFileHandles();
    before_ = std::set<sys::Handle>(open.begin(), open.end());
    owned_.clear();
}

void HandleWatch::Plant(sys::Handle slot) {
    if (!canaryKnown_) return;
    std::vector<sys::Handle> misses;
    for (int attempt = 0; attempt < kPlantAttempts; ++attempt) {
        const sys::Handle canary = sys::OpenForReading(canaryFile_);
        if (canary == sys::kNoHandle) break;
        if (canary == slot) {
            canaries_.insert(canary);
            break;
        }
        misses.push_back(canary);
        if (canary > slot) break;  // the slot was taken by something else
    }
    for (const sys::Handle miss : misses) sys::CloseFileHandle(miss);
}

void HandleWatch::AfterCall(const std::string& call) {
    const std::vector<sys::Handle> list = sys::OpenFileHandles();
    const std::set<sys::Handle> open(list.begin(), list.end());

    for (auto canary = canaries_.begin(); canary != canaries_.end();) {
        sys::FileId id;
        if (open.count(*canary) && sys::IdentifyHandle(*canary, id) && id == canaryId_) {
            ++canary;
            continue;
        }
        problems_.push_back(call + " closed a handle of the host (value " + std::to_string(*canary) +
                            "): a handle the module had already closed was closed again");
        canary = canaries_.erase(canary);  // no longer ours to close
    }

    std::vector<sys::Handle> freed;
    for (auto handle = owned_.begin(); handle != owned_.end();) {
        if (open.count(*handle)) {
            ++handle;
        } else {
            freed.push_back(*handle);
            handle = owned_.erase(handle);
        }
    }
    for (const sys::Handle handle : open) {
        if (before_.count(handle) || canaries_.count(handle) || owned_.count(handle)) continue;
        owned_.insert(handle);
        ++filesOpened_;
    }
    for (const sys::Handle slot : freed) Plant(slot);
}

void HandleWatch::End() {
    const std::vector<sys::Handle> list = sys::OpenFileHandles();
    const std::set<sys::Handle> open(list.begin(), list.end());
    for (const sys::Handle handle : owned_) {
        if (open.count(handle))
            problems_.push_back("never closed: " + sys::DescribeHandle(handle) + " is still open after CloseProc");
    }
    owned_.clear();
    for (const sys::Handle canary : canaries_) sys::CloseFileHandle(canary);
    canaries_.clear();
}

}  // namespace modcheck

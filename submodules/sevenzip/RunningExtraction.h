// Extraction in the host's order without starting over for every entry: hosts extract entry by
// entry, in listing order, and in a solid 7z block each entry on its own would decode the block
// from its start again. One 7-Zip extraction runs on a thread of its own over every item from
// the first one asked for to the last; it waits before each item until the host asks for that
// item or a later one, hands the asked item's data to the host's file, and reads past the items
// the host skipped. A request for an item it has already passed starts a new run from there.
//
// The host's thread waits while the data is written and forwards the progress itself, so that
// the host's progress callback is called on the host's own thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "Callbacks.h"
#include "ComSupport.h"
#include "Streams.h"
#include "SystemAccess.h"

namespace sevenzip {

struct ItemOutcome {
    enum Kind {
        Extracted,    // 7-Zip's result for the item is `result` (kResultOk or a failure)
        WriteFailed,  // the sink refused the data
        Aborted,      // the extraction ended before the item: `error` is 7-Zip's answer
    };
    Kind kind = Aborted;
    int32_t result = kResultUnavailable;
    HResult error = kFail;
};

class RunningExtraction {
public:
    RunningExtraction(ComPointer<IInArchive> archive, uint32_t itemCount, std::shared_ptr<PasswordState> password)
        : archive_(std::move(archive)), itemCount_(itemCount), password_(std::move(password)) {}
    ~RunningExtraction() { Stop(); }
    RunningExtraction(const RunningExtraction&) = delete;
    RunningExtraction& operator=(const RunningExtraction&) = delete;

    // Writes item `item` into `sink`; `progress` receives the bytes written, on this thread, in
    // steps and once more at the end.
    ItemOutcome Extract(uint32_t item, DataSink& sink, const std::function<void(uint64_t)>& progress);
    // Ends the running extraction, if any.
    void Stop();
    // How many extractions were started (one, for a host that goes through an archive in order).
    int Runs() const { return runs_; }

private:
    class Callback;
    friend class Callback;

    // Under the monitor: ends the current run and starts one from `item`.
    bool Restart(uint32_t item);

    ComPointer<IInArchive> archive_;
    const uint32_t itemCount_;
    std::shared_ptr<PasswordState> password_;
    Monitor monitor_;
    Thread thread_;
    int runs_ = 0;
    std::vector<uint32_t> indices_;

    // Shared with the thread, under the monitor.
    bool started_ = false;
    bool finished_ = false;  // 7-Zip's Extract has returned
    HResult finishResult_ = kOk;
    bool stop_ = false;
    uint32_t next_ = 0;      // the first item this run can still deliver
    int64_t wanted_ = -1;    // the item the host asks for
    DataSink* sink_ = nullptr;
    bool delivering_ = false;
    bool done_ = false;
    int32_t result_ = kResultUnavailable;
    bool writeFailed_ = false;
    uint64_t pending_ = 0;   // written, not yet forwarded as progress
};

// Decodes up to `limit` bytes of `item` to find whether the password opens it: false when 7-Zip
// reports the data bad before the limit (a wrong password, as far as the data can tell).
bool PasswordOpensItem(IInArchive& archive, uint32_t item, std::shared_ptr<PasswordState> password, uint64_t limit);

}  // namespace sevenzip

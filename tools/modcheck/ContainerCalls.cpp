#include "ContainerCalls.h"

#include <atomic>
#include <mutex>
#include <set>
#include <utility>

#include "CallUnderWay.h"

namespace modcheck {

namespace {

// The extraction under way on this thread, and every extraction under way in the process: a
// module may report progress from a thread of its own.
struct Extraction {
    const void* context;
    ProgressTally* tally;
};
thread_local Extraction* currentExtraction = nullptr;
std::mutex extractionsLock;
std::set<Extraction*> extractions;
std::atomic<uint64_t> strayCalls{0};

int32_t SM_CALL ProgressFunction(void* context, int32_t amount, int32_t /*unused*/) {
    Extraction* extraction = currentExtraction;
    if (!extraction) {
        std::lock_guard<std::mutex> guard(extractionsLock);
        for (Extraction* running : extractions)
            if (running->context == context) extraction = running;
        if (!extraction) {
            ++strayCalls;
            return 0;
        }
    }
    ProgressTally& tally = *extraction->tally;
    ++tally.calls;
    if (context != extraction->context) {
        if (tally.wrongContexts++ == 0) tally.firstWrongContext = context;
        return 0;  // Morvane answers 0 to a context that is not an archive of its own
    }
    if (amount > 0) tally.amount += uint64_t(amount);
    return 1;
}

// Registers an extraction for the progress function while it lives.
class ExtractionScope {
public:
    ExtractionScope(const void* context, ProgressTally& tally) : extraction_{context, &tally} {
        currentExtraction = &extraction_;
        std::lock_guard<std::mutex> guard(extractionsLock);
        extractions.insert(&extraction_);
    }
    ~ExtractionScope() {
        currentExtraction = nullptr;
        std::lock_guard<std::mutex> guard(extractionsLock);
        extractions.erase(&extraction_);
    }
    ExtractionScope(const ExtractionScope&) = delete;
    ExtractionScope& operator=(const ExtractionScope&) = delete;

private:
    Extraction extraction_;
};

}  // namespace

uint64_t StrayProgressCalls() { return strayCalls.load(); }

ContainerCalls::ContainerCalls(const SubModuleInterface& operations, std::u16string archive, std::string shownName,
                               HandleWatch* watch)
    : operations_(operations), archive_(std::move(archive)), shownName_(std::move(shownName)), watch_(watch) {}

template <typename Call>
int32_t ContainerCalls::Run(const std::string& description, Call&& call) {
    const int32_t answer = CallModule(description + " of " + shownName_, call);
    if (watch_) watch_->AfterCall(description);
    return answer;
}

int32_t ContainerCalls::Open(const std::string* password) {
    OpenRequest request{};
    request.ArchivePath = reinterpret_cast<const SM_WCHAR*>(archive_.c_str());
    request.Password = password ? password->c_str() : nullptr;
    return Run(password ? "OpenProc with a password" : "OpenProc",
               [&] { return operations_.OpenProc(request, &handle_, Owner()); });
}

int32_t ContainerCalls::Prepare() {
    return Run("PrepareProc", [&] { return operations_.PrepareProc(handle_); });
}

int32_t ContainerCalls::Read(int32_t index, EntryInfo& entry) {
    entry = EntryInfo();
    return Run("ReadEntryProc(index " + std::to_string(index) + ")",
               [&] { return operations_.ReadEntryProc(handle_, index, &entry); });
}

int32_t ContainerCalls::Extract(int32_t index, const std::filesystem::path& target) {
    const std::u16string targetText = sys::PathText(target);
    ExtractRequest request{};
    request.EntryIndex = index;
    request.TargetPath = reinterpret_cast<const SM_WCHAR*>(targetText.c_str());
    request.ProgressContext = Owner();
    request.ProgressProc = ProgressFunction;
    ExtractionScope scope(Owner(), progress_);
    return Run("ExtractProc(index " + std::to_string(index) + ")",
               [&] { return operations_.ExtractProc(handle_, request); });
}

void ContainerCalls::Close() {
    Run("CloseProc", [&] { return operations_.CloseProc(handle_); });
    handle_ = nullptr;
}

}  // namespace modcheck

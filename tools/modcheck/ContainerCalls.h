// One container of the sub-module under test, driven as Morvane drives it: the five operations
// with Morvane's arguments (the owner token, zero-filled records, the progress function), each call
// named for the crash report and followed by the handle watch when there is one.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "HandleWatch.h"
#include "modules/SubModuleContract.h"

namespace modcheck {

// What the progress function saw during the extractions of one container.
struct ProgressTally {
    uint64_t calls = 0;
    uint64_t amount = 0;
    uint64_t wrongContexts = 0;
    const void* firstWrongContext = nullptr;
};

// Progress calls that arrived on a thread with no extraction under way and with a context that
// belongs to no extraction under way.
uint64_t StrayProgressCalls();

class ContainerCalls {
public:
    // `shownName` names the archive in call descriptions; `watch` may be null.
    ContainerCalls(const SubModuleInterface& operations, std::u16string archive, std::string shownName,
                   HandleWatch* watch);
    ContainerCalls(const ContainerCalls&) = delete;
    ContainerCalls& operator=(const ContainerCalls&) = delete;

    // The owner token: also the ProgressContext of every extraction of this container.
    void* Owner() { return this; }

    // OpenProc with the password, or with null; the handle variable is shared by the offers, as
    // Morvane's is.
    int32_t Open(const std::string* password);
    int32_t Prepare();
    int32_t Read(int32_t index, EntryInfo& entry);  // zero-fills the record first
    int32_t Extract(int32_t index, const std::filesystem::path& target);
    void Close();

    ContainerHandle Handle() const { return handle_; }
    const ProgressTally& Progress() const { return progress_; }

private:
    template <typename Call>
    int32_t Run(const std::string& description, Call&& call);

    const SubModuleInterface& operations_;
    std::u16string archive_;
    std::string shownName_;
    HandleWatch* watch_;
    ContainerHandle handle_ = nullptr;
    ProgressTally progress_;
};

}  // namespace modcheck

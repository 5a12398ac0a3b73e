// What stands behind one archive handle of the file manager: the serving sub-module, its
// container, the current entry and the file manager's progress callbacks.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>

#include "archive/ArchiveEnvironment.h"
#include "archive/DirectoryTimes.h"
#include "archive/ListedEntry.h"
#include "archive/NameCountMap.h"
#include "modules/GuardedCall.h"
#include "modules/SubModuleContract.h"

class ArchiveObject {
public:
    explicit ArchiveObject(const ArchiveEnvironment& environment);
    ArchiveObject(const ArchiveObject&) = delete;
    ArchiveObject& operator=(const ArchiveObject&) = delete;
    ~ArchiveObject();

    // Finds the sub-module that claims path (asking for a password when it wants one). With
    // prepare, the module must also accept PrepareProc. False leaves the object empty.
    bool Open(const char16_t* path, bool prepare);
    // Gives listed directories their times, closes the container and forgets the path.
    void Reset();

    // Fetches the next entry into Listed(): the sub-module's answer (0 without a container). 0
    // and 2 (damaged, end) leave it as it was; any other answer fills it.
    int32_t ListNextEntry();
    // The current entry as last listed (numbered). Valid until the next ListNextEntry or Reset.
    const ListedEntry& Listed() const { return listed_; }
    // Extracts the current entry to destPath + separator + destName (destName alone without a
    // destPath), creating missing parent directories: the sub-module's answer.
    int32_t ExtractCurrentEntryTo(const char16_t* destPath, const char16_t* destName);
    // Extracts the current entry to targetPath and restores its times and read-only mode; the
    // sub-module's answer. A fault answers 3 (bad data) and deletes what was written.
    int32_t ExtractCurrentEntry(const std::u16string& targetPath);
    // Whether a call into the sub-module faulted. The container is then given up without
    // CloseProc (the module's state cannot be trusted), and the object answers as it does
    // without one: nothing reaches the module again.
    bool Faulted() const { return faulted_; }

    // The file manager's progress callbacks, stored as given (null allowed).
    HostProgress progress;
    // Forwards a sub-module's progress amount to the file manager.
    void ReportProgress(int32_t amount) const;

private:
    const ModuleRecord& ServingModule() const { return environment_.registry->At(size_t(moduleIndex_)); }
    int32_t Offer(struct ProbeRequest& request, int32_t& index, ContainerHandle& handle);
    // Takes the container that the module at index opened: from here on Reset closes it.
    void Keep(int32_t index, ContainerHandle handle);
    // Lets go of the container without closing it.
    void Forget();
    // Runs call(), a call into the serving module, under the fault guard; false after a fault,
    // which gives the container up. The module's progress calls during ExtractProc need the
    // guarded call's state: calling back, it runs the host's code outside the guard.
    template <typename Call>
    bool CallModule(const char16_t* operation, Call& call);
    void Abandon(const char16_t* operation, uint32_t exceptionCode);

    const ArchiveEnvironment& environment_;
    std::unique_ptr<std::u16string> archivePath_;
    int32_t entryIndex_ = -1;
    int32_t moduleIndex_ = -1;
    ContainerHandle container_ = nullptr;
    NameCountMap nameCounts_;
    // The current entry. Its name is a view of the record it was read into (or of numbered_):
    // listing copies no name. The other record takes the next entry, so that a failed read
    // leaves the current one as it was.
    ListedEntry listed_{};
    EntryInfo records_[2];
    int current_ = 0;
    std::u16string numbered_;
    std::set<std::u16string> madeDirectories_;  // parent folders of this archive's targets that exist
    DirectoryTimes directoryTimes_;
    bool faulted_ = false;
    bool guardHeld_ = false;                   // a fault guard hold, while a container is kept
    platform::GuardedCall* moduleCall_ = nullptr;  // the guarded call under way, for progress
};

template <typename Call>
bool ArchiveObject::CallModule(const char16_t* operation, Call& call) {
    platform::GuardedCall state;
    moduleCall_ = &state;
    const bool returned = RunGuarded(call, state);
    moduleCall_ = nullptr;
    if (returned) return true;
    Abandon(operation, state.exceptionCode);
    return false;
}

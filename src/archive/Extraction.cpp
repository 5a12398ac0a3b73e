// Extraction of the current entry: target path, parent directories, progress, times and mode.
#include <cstring>

#include "archive/ArchiveObject.h"
#include "archive/DirectoryChain.h"
#include "platform/Platform.h"

namespace {

constexpr uint32_t kAttributeReadOnly = 0x01;

size_t LastSeparator(const std::u16string& path) { return path.find_last_of(u"\\/"); }

uint64_t Join(const SM_FILETIME& time) { return (uint64_t(time.HighDateTime) << 32) | time.LowDateTime; }

// Called by the sub-module during ExtractProc, on its thread, with the owner token as context.
int32_t SM_CALL ProgressTrampoline(void* context, int32_t amount, int32_t /*unused*/) {
    if (!context || reinterpret_cast<uintptr_t>(context) == UINTPTR_MAX) return 0;
    static_cast<const ArchiveObject*>(context)->ReportProgress(amount);
    // The host's cancel is not passed on: the module has no way to stop early.
    return 1;
}

}  // namespace

void ArchiveObject::ReportProgress(int32_t amount) const {
    if (!environment_.reportProgress) return;
    if (!moduleCall_) {
        environment_.reportProgress(progress, amount);
        return;
    }
    // The host's callback is the host's code: a fault there is none of the module's.
    struct HostCall {
        const ArchiveObject* archive;
        int32_t amount;
    } host{this, amount};
    platform::CallOutsideGuard(*moduleCall_, [](void* context) {
        const HostCall& call = *static_cast<const HostCall*>(context);
        call.archive->environment_.reportProgress(call.archive->progress, call.amount);
    }, &host);
}

int32_t ArchiveObject::ExtractCurrentEntryTo(const char16_t* destPath, const char16_t* destName) {
    // No length limit and no normalisation: a DestPath ending in a separator gives two in a row.
    const std::u16string name(destName);
    std::u16string target = destPath ? std::u16string(destPath) + platform::kPathSeparator + name : name;
    const size_t separator = LastSeparator(target);
    if (separator != std::u16string::npos) {
        // The files of one folder follow each other: its chain is looked at once per archive,
        // not once per file. A chain that could not be made is tried again next time.
        std::u16string directory = target.substr(0, separator);
        if (madeDirectories_.count(directory) == 0 && CreateDirectoryChain(directory))
            madeDirectories_.insert(std::move(directory));
    }
    return ExtractCurrentEntry(target);
}

int32_t ArchiveObject::ExtractCurrentEntry(const std::u16string& targetPath) {
    if (!container_) return 3;
    const ModuleRecord& module = ServingModule();
    const std::u16string modulePath = platform::LongPathForm(targetPath);
    ExtractRequest request{};
    request.EntryIndex = entryIndex_;
    request.Reserved = 0;
    request.TargetPath = reinterpret_cast<const SM_WCHAR*>(modulePath.c_str());
    request.ProgressContext = this;
    request.ProgressProc = ProgressTrampoline;
    int32_t answer = 0;
    auto extract = [&] { answer = module.ExtractProc(container_, request); };
    // What a module wrote before it faulted is no file: it goes.
    if (!CallModule(u"ExtractProc", extract)) {
        platform::DiscardFile(targetPath);
        return 3;
    }
    if (answer != 0) return answer;

    EntryInfo entry;
    std::memset(&entry, 0, sizeof entry);
    int32_t read = 0;
    auto reread = [&] { read = module.ReadEntryProc(container_, entryIndex_, &entry); };
    if (!CallModule(u"ReadEntryProc", reread)) {
        platform::DiscardFile(targetPath);
        return 3;
    }
    directoryTimes_.NoteExtracted(listed_.name, targetPath);
    if (read != 1) return 0;
    platform::SetFileTimes(targetPath, Join(entry.CreationTime), Join(entry.LastWriteTime));
    if (entry.Attributes & kAttributeReadOnly) platform::MakeReadOnly(targetPath);
    return 0;
}

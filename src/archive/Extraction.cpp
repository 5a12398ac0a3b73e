// Extraction of the current entry: target path, parent directories, progress and file times.
#include <cstring>

#include "archive/ArchiveObject.h"
#include "archive/DirectoryChain.h"
#include "platform/Platform.h"

namespace {

size_t LastSeparator(const std::u16string& path) { return path.find_last_of(u"\\/"); }

uint64_t Join(const SM_FILETIME& time) { return (uint64_t(time.HighDateTime) << 32) | time.LowDateTime; }

int ResultCode(int32_t answer) {
    switch (answer) {
        case 0: return 0;
        case 1: return E_EWRITE;
        case 2: return E_EREAD;
        case 3: return E_BAD_DATA;
        default: return E_EOPEN;
    }
}

// Called by the sub-module during ExtractProc, on its thread, with the owner token as context.
int32_t SM_CALL ProgressTrampoline(void* context, int32_t amount, int32_t /*unused*/) {
    if (!context || reinterpret_cast<uintptr_t>(context) == UINTPTR_MAX) return 0;
    const auto* archive = static_cast<const ArchiveObject*>(context);
    if (archive->processDataProcW) archive->processDataProcW(nullptr, amount);
    else if (archive->processDataProc) archive->processDataProc(nullptr, amount);
    // The host's cancel is not passed on: the module has no way to stop early.
    return 1;
}

}  // namespace

int ArchiveObject::ProcessFile(int operation, const char16_t* destPath, const char16_t* destName) {
    if (operation == PK_SKIP || operation == PK_TEST) return 0;
    if (!destName) return E_ECREATE;
    // No length limit and no normalisation: a DestPath ending in a separator gives two in a row.
    std::u16string target = destPath ? std::u16string(destPath) + u"\\" + destName : std::u16string(destName);
    const size_t separator = LastSeparator(target);
    if (separator != std::u16string::npos) CreateDirectoryChain(target.substr(0, separator));
    return ResultCode(ExtractCurrentEntry(target));
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
    const int32_t answer = module.ExtractProc(container_, request);
    if (answer != 0) return answer;

    EntryInfo entry;
    std::memset(&entry, 0, sizeof entry);
    if (module.ReadEntryProc(container_, entryIndex_, &entry) != 1) return 0;
    platform::SetFileTimes(targetPath, Join(entry.CreationTime), Join(entry.LastWriteTime));
    return 0;
}

// What stands behind one archive handle of the file manager: the serving sub-module, its
// container, the current entry and the file manager's progress callbacks.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "archive/ArchiveEnvironment.h"
#include "archive/NameCountMap.h"
#include "modules/SubModuleContract.h"
#include "plugin/PackerInterface.h"

class ArchiveObject {
public:
    explicit ArchiveObject(const ArchiveEnvironment& environment);
    ArchiveObject(const ArchiveObject&) = delete;
    ArchiveObject& operator=(const ArchiveObject&) = delete;
    ~ArchiveObject();

    // Finds the sub-module that claims path (asking for a password when it wants one). With
    // prepare, the module must also accept PrepareProc. False leaves the object empty.
    bool Open(const char16_t* path, bool prepare);
    // Closes the container and forgets the path.
    void Reset();

    // Fetches the next entry; answers the sub-module's answer (0 without a container).
    int32_t ReadNextEntry(EntryInfo& entry);
    // Fills the file manager's header from the next entry; 0 or E_END_ARCHIVE / E_BAD_ARCHIVE.
    int ReadHeader(tHeaderDataExW& header);
    // Skips, tests or extracts the current entry; 0 or a result code of the packer interface.
    int ProcessFile(int operation, const char16_t* destPath, const char16_t* destName);
    // Extracts the current entry to targetPath and restores its times; the sub-module's answer.
    int32_t ExtractCurrentEntry(const std::u16string& targetPath);

    void SetProcessDataProc(tProcessDataProc callback) { processDataProc = callback; }
    void SetProcessDataProcW(tProcessDataProcW callback) { processDataProcW = callback; }

    // Read by the progress trampoline on the extracting thread.
    tProcessDataProc processDataProc = nullptr;
    tProcessDataProcW processDataProcW = nullptr;

private:
    const ModuleRecord& ServingModule() const { return environment_.registry->At(size_t(moduleIndex_)); }
    int32_t Offer(struct ProbeRequest& request, int32_t& index, ContainerHandle& handle);
    // Takes the container that the module at index opened: from here on Reset closes it.
    void Keep(int32_t index, ContainerHandle handle);

    const ArchiveEnvironment& environment_;
    std::unique_ptr<std::u16string> archivePath_;
    int32_t entryIndex_ = -1;
    int32_t moduleIndex_ = -1;
    ContainerHandle container_ = nullptr;
    NameCountMap nameCounts_;
};

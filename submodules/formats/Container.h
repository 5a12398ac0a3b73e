// One archive that the formats sub-module opened for Morvane: the answers of OpenProc,
// ReadEntryProc and ExtractProc for it, in the contract's terms.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ArchiveReader.h"
#include "ModuleSettings.h"
#include "SystemAccess.h"
#include "modules/SubModuleContract.h"

namespace formats {

// "Any other failure" of ExtractProc: the entry does not exist or cannot be extracted at all.
constexpr int32_t kExtractImpossible = 4;

class Container {
public:
    // OpenProc's answer for `path`: SM_OPEN_NOT_MINE for anything no format recognises or whose
    // first entry cannot be read; SM_OPEN_NEED_PASSWORD for an archive with encrypted entries
    // that libarchive can decrypt, when no password is given or the given one does not open the
    // first of them; SM_OPEN_OK otherwise, with `container` set. The first volume of a
    // multi-volume RAR set opens the whole set, as far as its volumes are there.
    static int32_t Open(const std::u16string& path, const char* password, const ModuleSettings& settings,
                        std::unique_ptr<Container>& container);

    int32_t ReadEntry(int32_t index, EntryInfo& info);
    int32_t Extract(const ExtractRequest& request);

private:
    Container(std::unique_ptr<ArchiveFile> file, const ModuleSettings& settings, const std::string& password);
    bool PasswordOpensFirstEncryptedEntry();
    int32_t WriteData(size_t index, OutputFile& output, const ExtractRequest& request);

    std::unique_ptr<ArchiveFile> file_;
    ModuleSettings settings_;
    ArchiveReader reader_;
};

}  // namespace formats

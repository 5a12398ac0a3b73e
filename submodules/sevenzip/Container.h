// One archive that the sevenzip sub-module opened for Morvane: the answers of OpenProc,
// PrepareProc, ReadEntryProc and ExtractProc for it, in the contract's terms.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ArchiveChain.h"
#include "FormatLibrary.h"
#include "ModuleSettings.h"
#include "RunningExtraction.h"
#include "modules/SubModuleContract.h"

namespace sevenzip {

// "Any other failure" of ExtractProc: the entry does not exist or cannot be extracted at all.
constexpr int32_t kExtractImpossible = 4;

struct Entry {
    uint32_t item = 0;  // in the innermost archive
    std::u16string name;  // neutral: platform separators, nothing that leads outside the target
    bool directory = false;
    uint64_t size = 0;
    uint64_t packedSize = 0;
    uint32_t attributes = 0;
    SM_FILETIME modified{0, 0};
    SM_FILETIME created{0, 0};
    bool symbolicLink = false;
    std::string linkText;            // a symbolic link's target (UTF-8), extracted as the file's content
    std::u16string hardLinkTarget;   // a hard link takes the data of the listed file of this name
};

class Container {
public:
    // OpenProc's answer for `path`: SM_OPEN_NOT_MINE when no format opens it; SM_OPEN_NEED_PASSWORD
    // when its headers are encrypted, or its first encrypted entry with data, and no password is
    // given or the given one does not open it; SM_OPEN_OK otherwise, with `container` set.
    static int32_t Open(const std::u16string& path, const char* password, const FormatLibrary& library,
                        const ModuleSettings& settings, std::unique_ptr<Container>& container);

    // Looks inside a compressed stream and reads the entries; false when they cannot be read.
    bool Prepare();
    int32_t ReadEntry(int32_t index, EntryInfo& info);
    int32_t Extract(const ExtractRequest& request);

    // For tests: the opened levels, and how many extraction runs were started.
    const ArchiveChain& Chain() const { return chain_; }
    int ExtractionRuns() const { return extraction_ ? extraction_->Runs() : 0; }

private:
    Container(const FormatLibrary& library, const ModuleSettings& settings, std::shared_ptr<PasswordState> password)
        : chain_(library, settings), password_(std::move(password)) {}
    bool LoadEntries();
    bool PasswordOpensFirstEncryptedItem(bool& encrypted);
    int32_t WriteItem(const Entry& entry, OutputFile& output, const ExtractRequest& request);

    ArchiveChain chain_;
    std::shared_ptr<PasswordState> password_;
    bool loaded_ = false;
    std::vector<Entry> entries_;
    // Destroyed first: its thread uses the innermost archive of chain_.
    std::unique_ptr<RunningExtraction> extraction_;
};

// The contract's attribute bits for an entry: folder or file (archive bit), read-only, hidden and
// system from 7-Zip's Windows attributes (`windows`, when known) and read-only from a Unix mode
// (`unix`, when known, or the high half of Windows attributes that carry one).
uint32_t EntryAttributes(bool directory, bool hasWindows, uint32_t windows, bool hasUnix, uint32_t unix);

}  // namespace sevenzip

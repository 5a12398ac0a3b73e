// Listing: the next entry from the serving sub-module, numbered and turned into a ListedEntry.
// Runs once per entry of archives with millions of them: no name is copied and nothing is
// allocated but the numbering map's own storage.
#include <algorithm>
#include <cstring>

#include "archive/ArchiveObject.h"
#include "archive/NameScan.h"

namespace {

uint64_t Join(const SM_FILETIME& time) { return (uint64_t(time.HighDateTime) << 32) | time.LowDateTime; }

}  // namespace

int32_t ArchiveObject::ListNextEntry() {
    if (!container_) return 0;
    EntryInfo& entry = records_[1 - current_];
    std::memset(&entry, 0, sizeof entry);
    ++entryIndex_;
    int32_t answer = 0;
    auto read = [&] { answer = ServingModule().ReadEntryProc(container_, entryIndex_, &entry); };
    if (!CallModule(u"ReadEntryProc", read)) return 0;
    if (answer == 0 || answer == 2) return answer;
    // The name up to its first zero, never past the field: a module may fill all of it.
    const auto* name = reinterpret_cast<const char16_t*>(entry.Name);
    const NameScan scan = ScanName(name, SM_NAME_LENGTH);
    const size_t length = scan.length;
    // An answer outside the contract is shown as it is, never numbered.
    const uint32_t repeated = answer == 1 ? nameCounts_.Count(name, length, scan.hash) : 0;
    ListedEntry& listed = listed_;
    listed.backslash = scan.backslash;
    if (repeated == 0) {
        listed.name = std::u16string_view(name, length);
    } else {
        numbered_ = NameCountMap::WithNumber(std::u16string(name, length), repeated);
        // A host sees the field's worth of the numbered name, as a module's own long name.
        numbered_.resize(std::min<size_t>(numbered_.size(), SM_NAME_LENGTH));
        listed.name = numbered_;
    }
    current_ = 1 - current_;
    if (archivePath_) listed.archivePath = *archivePath_;
    else listed.archivePath = std::u16string_view();
    listed.packedSize = entry.PackedSize;
    listed.unpackedSize = entry.UnpackedSize;
    listed.attributes = entry.Attributes;
    listed.lastWriteTime = Join(entry.LastWriteTime);
    directoryTimes_.NoteListed(listed.name, listed.attributes, listed.lastWriteTime);
    return answer;
}

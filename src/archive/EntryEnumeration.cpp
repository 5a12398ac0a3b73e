// Listing: the next entry from the serving sub-module, numbered and turned into a ListedEntry.
#include <algorithm>
#include <cstring>

#include "archive/ArchiveObject.h"

namespace {

// The name up to its first zero, never past the field: a module may fill all of it.
std::u16string NameOf(const EntryInfo& entry) {
    const auto* name = reinterpret_cast<const char16_t*>(entry.Name);
    return std::u16string(name, std::find(name, name + SM_NAME_LENGTH, u'\0'));
}

uint64_t Join(const SM_FILETIME& time) { return (uint64_t(time.HighDateTime) << 32) | time.LowDateTime; }

}  // namespace

int32_t ArchiveObject::ReadNextEntry(EntryInfo& entry) {
    if (!container_) return 0;
    std::memset(&entry, 0, sizeof entry);
    ++entryIndex_;
    const int32_t answer = ServingModule().ReadEntryProc(container_, entryIndex_, &entry);
    if (answer != 1) return answer;
    const std::u16string name = NameOf(entry);
    const std::u16string shown = nameCounts_.Number(name);
    if (shown != name) {
        std::memset(entry.Name, 0, sizeof entry.Name);
        std::memcpy(entry.Name, shown.data(), std::min<size_t>(shown.size(), SM_NAME_LENGTH) * sizeof(char16_t));
    }
    return 1;
}

int32_t ArchiveObject::ListNextEntry(ListedEntry& listed) {
    EntryInfo entry;
    std::memset(&entry, 0, sizeof entry);
    const int32_t answer = ReadNextEntry(entry);
    if (answer == 0 || answer == 2) return answer;
    listed.archivePath = archivePath_ ? *archivePath_ : std::u16string();
    listed.name = NameOf(entry);
    listed.packedSize = entry.PackedSize;
    listed.unpackedSize = entry.UnpackedSize;
    listed.attributes = entry.Attributes;
    listed.lastWriteTime = Join(entry.LastWriteTime);
    currentName_ = listed.name;
    directoryTimes_.NoteListed(listed.name, listed.attributes, listed.lastWriteTime);
    return answer;
}

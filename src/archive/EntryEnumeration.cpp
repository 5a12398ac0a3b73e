// Listing: the next entry from the serving sub-module, numbered and turned into a header.
#include <algorithm>
#include <cstring>

#include "archive/ArchiveObject.h"
#include "archive/DosTime.h"

namespace {

// The name up to its first zero, never past the field: a module may fill all of it.
std::u16string NameOf(const EntryInfo& entry) {
    const auto* name = reinterpret_cast<const char16_t*>(entry.Name);
    return std::u16string(name, std::find(name, name + SM_NAME_LENGTH, u'\0'));
}

uint64_t Join(const SM_FILETIME& time) { return (uint64_t(time.HighDateTime) << 32) | time.LowDateTime; }

// Copies at most capacity - 1 code units and a terminator.
void CopyWide(PK_WCHAR* field, size_t capacity, const std::u16string& text) {
    const size_t length = std::min(text.size(), capacity - 1);
    std::memcpy(field, text.data(), length * sizeof(char16_t));
    field[length] = 0;
}

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

int ArchiveObject::ReadHeader(tHeaderDataExW& header) {
    EntryInfo entry;
    std::memset(&entry, 0, sizeof entry);
    const int32_t answer = ReadNextEntry(entry);
    if (answer == 0) return E_BAD_ARCHIVE;
    if (answer == 2) return E_END_ARCHIVE;
    CopyWide(header.ArcName, PK_NAME_WIDE, archivePath_ ? *archivePath_ : std::u16string());
    CopyWide(header.FileName, PK_NAME_WIDE, NameOf(entry));
    std::memset(header.Reserved, 0, sizeof header.Reserved);
    header.PackSize = uint32_t(entry.PackedSize);
    header.PackSizeHigh = uint32_t(entry.PackedSize >> 32);
    header.UnpSize = uint32_t(entry.UnpackedSize);
    header.UnpSizeHigh = uint32_t(entry.UnpackedSize >> 32);
    header.HostOS = 0;
    header.FileCRC = 0;
    header.FileTime = int(DosTimeFromFileTime(Join(entry.LastWriteTime)));
    header.FileAttr = int(entry.Attributes);
    return 0;
}

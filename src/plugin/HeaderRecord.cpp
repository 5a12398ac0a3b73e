#include "plugin/HeaderRecord.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "plugin/HostDialect.h"

namespace {

// The record may be packed: its text fields are written by offset, never through a WCHAR
// pointer that would assume an alignment the host does not give.
void CopyName(tHeaderDataExW& header, size_t fieldOffset, std::u16string_view text) {
    unsigned char* field = reinterpret_cast<unsigned char*>(&header) + fieldOffset;
    const size_t length = std::min<size_t>(text.size(), PK_NAME_WIDE - 1);
    std::memcpy(field, text.data(), length * sizeof(char16_t));
    std::memset(field + length * sizeof(char16_t), 0, sizeof(char16_t));
}

}  // namespace

void FillHeaderRecord(const ListedEntry& entry, tHeaderDataExW& header) {
    CopyName(header, offsetof(tHeaderDataExW, ArcName), entry.archivePath);
    unsigned char* fileName = reinterpret_cast<unsigned char*>(&header) + offsetof(tHeaderDataExW, FileName);
    const size_t length = std::min<size_t>(entry.name.size(), PK_NAME_WIDE - 1);
    this_host::WriteEntryName(entry.name, length, entry.backslash, fileName);
    std::memset(fileName + length * sizeof(char16_t), 0, sizeof(char16_t));
    std::memset(reinterpret_cast<unsigned char*>(&header) + offsetof(tHeaderDataExW, Reserved), 0,
                sizeof header.Reserved);
    header.PackSize = uint32_t(entry.packedSize);
    header.PackSizeHigh = uint32_t(entry.packedSize >> 32);
    header.UnpSize = uint32_t(entry.unpackedSize);
    header.UnpSizeHigh = uint32_t(entry.unpackedSize >> 32);
    header.HostOS = 0;
    header.FileCRC = 0;
    header.FileTime = this_host::FileTime(entry.lastWriteTime);
    header.FileAttr = this_host::FileAttributes(entry.attributes);
}

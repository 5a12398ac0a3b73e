// One entry as the archive lists it, in no host's dialect: the exports fill the host's header
// record from it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Its texts are views of the archive object's own storage.
struct ListedEntry {
    std::u16string_view archivePath;
    std::u16string_view name;  // numbered when repeated, separators as the sub-module wrote them
    bool backslash = true;     // false when name is known to hold no '\\'
    uint64_t packedSize = 0;
    uint64_t unpackedSize = 0;
    uint32_t attributes = 0;     // the sub-module's Windows file-attribute bits
    uint64_t lastWriteTime = 0;  // FILETIME, UTC; 0 when the entry has none
};

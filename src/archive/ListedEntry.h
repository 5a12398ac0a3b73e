// One entry as the archive lists it, in no host's dialect: the exports fill the host's header
// record from it.
#pragma once

#include <cstdint>
#include <string>

struct ListedEntry {
    std::u16string archivePath;
    std::u16string name;  // numbered when repeated, separators as the sub-module wrote them
    uint64_t packedSize = 0;
    uint64_t unpackedSize = 0;
    uint32_t attributes = 0;     // the sub-module's Windows file-attribute bits
    uint64_t lastWriteTime = 0;  // FILETIME, UTC; 0 when the entry has none
};

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
    bool backslash;            // whether name may hold a '\\'
    uint64_t packedSize;
    uint64_t unpackedSize;
    uint32_t attributes;     // the sub-module's Windows file-attribute bits
    uint64_t lastWriteTime;  // FILETIME, UTC; zero when the entry has none
};

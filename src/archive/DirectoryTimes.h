// The times of the directories that an archive lists, given back to them on disk once the files
// extracted into them are written (creating a file changes its directory's time).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

class DirectoryTimes {
public:
    // Remembers a listed entry's time when its attributes say it is a directory.
    void NoteListed(std::u16string_view name, uint32_t attributes, uint64_t lastWriteTime);
    // An entry named name was extracted to target: every listed directory above it, under the
    // folder that target puts the archive's root in, is due to get its time back.
    void NoteExtracted(std::u16string_view name, const std::u16string& target);
    // Sets the times that are due, then forgets everything.
    void Restore();

private:
    std::map<std::u16string, uint64_t> listed_;          // directory name, separators as '/'
    std::map<std::u16string, std::u16string> extracted_;  // directory on disk -> its listed name
};

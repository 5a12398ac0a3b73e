// What the destination holds, folder by folder, with names compared as the file system compares
// them (letter case ignored on Windows). Each folder is read once: asking the file system about
// every new name costs a scan of the whole folder under Wine, which made large archives slow.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace wcxhost {

class DestinationIndex {
public:
    struct Entry {
        std::u16string name;  // as it is on disk
        bool directory = false;
    };
    // Lists a folder; false when it does not exist (it is then empty).
    using Lister = std::function<bool(const std::u16string& folder, std::vector<Entry>& entries)>;
    using Folder = std::function<std::u16string(const std::u16string& text)>;

    // fold: the file system's notion of "the same name" (upper-casing on Windows, nothing on Linux).
    DestinationIndex(Lister list, Folder fold) : list_(std::move(list)), fold_(std::move(fold)) {}

    struct Found {
        bool exists = false;
        bool directory = false;
        bool written = false;          // by this run
        std::u16string writtenFor;     // then: the archive entry it was written for
    };
    // path: a folder, a separator ("/" or "\") and a name.
    Found Look(const std::u16string& path);
    // This run put a file or directory at path, for the archive entry `entry`.
    void Wrote(const std::u16string& path, const std::u16string& entry, bool directory);

private:
    struct Item {
        bool directory = false;
        bool written = false;
        std::u16string writtenFor;
    };
    std::map<std::u16string, Item>& FolderOf(const std::u16string& path, std::u16string& key);

    Lister list_;
    Folder fold_;
    std::map<std::u16string, std::map<std::u16string, Item>> folders_;
};

}  // namespace wcxhost

#include "DestinationIndex.h"

namespace wcxhost {

std::map<std::u16string, DestinationIndex::Item>& DestinationIndex::FolderOf(const std::u16string& path,
                                                                            std::u16string& key) {
    const size_t slash = path.find_last_of(u"/\\");
    const std::u16string folder = slash == std::u16string::npos ? std::u16string() : path.substr(0, slash);
    key = fold_(slash == std::u16string::npos ? path : path.substr(slash + 1));
    const std::u16string folderKey = fold_(folder);
    auto known = folders_.find(folderKey);
    if (known != folders_.end()) return known->second;
    std::map<std::u16string, Item>& items = folders_[folderKey];
    std::vector<Entry> entries;
    if (list_(folder, entries))
        for (const Entry& entry : entries) items[fold_(entry.name)].directory = entry.directory;
    return items;
}

DestinationIndex::Found DestinationIndex::Look(const std::u16string& path) {
    std::u16string key;
    const std::map<std::u16string, Item>& items = FolderOf(path, key);
    Found found;
    const auto item = items.find(key);
    if (item == items.end()) return found;
    found.exists = true;
    found.directory = item->second.directory;
    found.written = item->second.written;
    found.writtenFor = item->second.writtenFor;
    return found;
}

void DestinationIndex::Wrote(const std::u16string& path, const std::u16string& entry, bool directory) {
    std::u16string key;
    Item& item = FolderOf(path, key)[key];
    item.directory = directory;
    item.written = true;
    item.writtenFor = entry;
}

}  // namespace wcxhost

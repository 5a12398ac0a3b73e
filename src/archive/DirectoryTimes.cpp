#include "archive/DirectoryTimes.h"

#include "platform/Platform.h"

namespace {

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

// One spelling for a name: '/' between its parts and none at its end.
std::u16string Key(std::u16string_view name) {
    std::u16string key(name);
    for (char16_t& c : key)
        if (c == u'\\') c = u'/';
    while (!key.empty() && key.back() == u'/') key.pop_back();
    return key;
}

}  // namespace

void DirectoryTimes::NoteListed(std::u16string_view name, uint32_t attributes, uint64_t lastWriteTime) {
    if (!(attributes & platform::kAttributeDirectory)) return;
    const std::u16string key = Key(name);
    if (!key.empty()) listed_[key] = lastWriteTime;
}

void DirectoryTimes::NoteExtracted(std::u16string_view name, const std::u16string& target) {
    const std::u16string entry = Key(name);
    const std::u16string path = Key(target);
    // The target must end in the whole name, at a separator: otherwise the host put the entry
    // somewhere of its own choosing and the listed directories have no place on disk.
    if (entry.empty() || path.size() < entry.size()) return;
    const size_t root = path.size() - entry.size();
    if (path.compare(root, entry.size(), entry) != 0) return;
    if (root > 0 && !IsSeparator(path[root - 1])) return;
    for (size_t at = entry.find(u'/'); at != std::u16string::npos; at = entry.find(u'/', at + 1))
        extracted_[target.substr(0, root + at)] = entry.substr(0, at);
}

void DirectoryTimes::Restore() {
    for (const auto& directory : extracted_) {
        const auto listed = listed_.find(directory.second);
        if (listed != listed_.end() && listed->second != 0)
            platform::SetDirectoryTime(directory.first, listed->second);
    }
    extracted_.clear();
    listed_.clear();
}

#include "archive/DirectoryChain.h"

#include <vector>

#include "platform/Platform.h"

// Whether directory exists when this returns. Walks up to the nearest existing ancestor, then
// creates the missing levels downward (no recursion: a name may hold thousands of separators).
bool CreateDirectoryChain(const std::u16string& directory) {
    std::vector<std::u16string> missing;
    std::u16string path = directory;
    for (;;) {
        uint32_t attributes = 0;
        if (platform::ReadAttributes(path, attributes)) {
            if (!(attributes & (platform::kAttributeDirectory | platform::kAttributeReparsePoint))) return false;
            break;
        }
        missing.push_back(path);
        const size_t separator = path.find_last_of(u"\\/");
        if (separator == std::u16string::npos) break;
        path.erase(separator);
    }
    for (auto level = missing.rbegin(); level != missing.rend(); ++level)
        if (!platform::MakeDirectory(*level)) return false;
    return true;
}


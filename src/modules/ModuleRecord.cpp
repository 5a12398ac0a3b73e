#include "modules/ModuleRecord.h"

void ModuleRecord::AddMasks(const char16_t* maskList) {
    if (!maskList) return;
    const std::u16string list(maskList);
    size_t start = 0;
    while (start < list.size()) {
        size_t end = list.find(u';', start);
        if (end == std::u16string::npos) end = list.size();
        if (end > start) masks.push_back(list.substr(start, end - start));
        start = end + 1;
    }
}

bool ModuleRecord::MatchesMasks(const std::u16string& path) const {
    if (masks.empty()) return true;
    for (const std::u16string& mask : masks)
        if (platform::PathMatchesMask(path, mask)) return true;
    return false;
}

#include "modules/ModuleRecord.h"

#include <algorithm>
#include <string_view>

void ModuleRecord::AddMasks(const char16_t* maskList) {
    if (!maskList) return;
    for (std::u16string_view list(maskList); !list.empty();) {
        const size_t end = std::min(list.find(u';'), list.size());
        if (end > 0) masks.emplace_back(list.substr(0, end));
        list.remove_prefix(std::min(end + 1, list.size()));
    }
}

bool ModuleRecord::MatchesMasks(const std::u16string& path) const {
    if (masks.empty()) return true;
    for (const std::u16string& mask : masks)
        if (platform::PathMatchesMask(path, mask)) return true;
    return false;
}

#include "archive/NameCountMap.h"

std::u16string NameCountMap::Number(const std::u16string& name) {
    auto inserted = counts_.emplace(name, 0);
    if (inserted.second) return name;
    const int32_t count = ++inserted.first->second;
    std::u16string number;
    for (char c : std::to_string(count)) number += char16_t(c);
    // The number goes before the last dot of the whole name, directory parts included.
    const size_t dot = name.rfind(u'.');
    if (dot == std::u16string::npos) return name + u"," + number;
    return name.substr(0, dot) + u"," + number + name.substr(dot);
}

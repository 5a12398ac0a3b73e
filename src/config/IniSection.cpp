#include "config/IniSection.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

namespace {

bool IsWideSpace(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r';
}

// wcstol(text, nullptr, 10) on UTF-16 text: out-of-range values clamp as wcstol does.
int32_t ParseDecimal(std::u16string_view text) {
    while (!text.empty() && IsWideSpace(text.front())) text.remove_prefix(1);
    const bool negative = !text.empty() && text.front() == u'-';
    if (!text.empty() && (negative || text.front() == u'+')) text.remove_prefix(1);
    // Held far beyond the 32-bit range, where it can neither overflow nor come back into it.
    int64_t value = 0;
    for (; !text.empty() && text.front() >= u'0' && text.front() <= u'9'; text.remove_prefix(1))
        value = std::min<int64_t>(value * 10 + (text.front() - u'0'), INT64_MAX / 16);
    return int32_t(std::clamp<int64_t>(negative ? -value : value, INT32_MIN, INT32_MAX));
}

}  // namespace

const IniSection::Pair* IniSection::Find(const std::u16string& key) const {
    for (const Pair& pair : pairs_)
        if (pair.first == key) return &pair;
    return nullptr;
}

void IniSection::Set(const std::u16string& key, const std::u16string& value) {
    for (Pair& pair : pairs_) {
        if (pair.first == key) {
            pair.second = value;
            return;
        }
    }
    pairs_.emplace_back(key, value);
}

bool IniSection::GetString(const std::u16string& key, std::u16string& out) const {
    const Pair* pair = Find(key);
    if (!pair) return false;
    out = pair->second;
    return true;
}

bool IniSection::GetInt(const std::u16string& key, int32_t& out) const {
    const Pair* pair = Find(key);
    if (!pair) return false;
    out = ParseDecimal(pair->second);
    return true;
}

std::u16string IniSection::Flatten() const {
    std::u16string text;
    for (const Pair& pair : pairs_) {
        text += pair.first;
        text += u'=';
        text += pair.second;
        text += u'\0';
    }
    text += u'\0';
    return text;
}

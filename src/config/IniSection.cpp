#include "config/IniSection.h"

#include <climits>

namespace {

bool IsWideSpace(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r';
}

// wcstol(text, nullptr, 10) on UTF-16 text: out-of-range values clamp as wcstol does.
int32_t ParseDecimal(const std::u16string& text) {
    size_t i = 0;
    while (i < text.size() && IsWideSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    int64_t value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + (text[i] - u'0');
        if (value > int64_t(INT32_MAX) + 1) break;
    }
    if (negative) value = -value;
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
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

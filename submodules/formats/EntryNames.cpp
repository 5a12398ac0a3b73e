#include "EntryNames.h"

#include <cstdint>

#include "text/Utf8.h"

namespace formats {

namespace {

bool IsSeparator(char16_t c) { return c == u'/' || c == u'\\'; }

bool IsDriveLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

}  // namespace

std::u16string CutAtCharacter(const std::u16string& text, size_t limit) {
    if (text.size() <= limit) return text;
    size_t length = limit;
    if (length > 0 && text[length - 1] >= 0xD800 && text[length - 1] <= 0xDBFF) --length;
    return text.substr(0, length);
}

std::u16string NeutralName(const std::u16string& name, char16_t separator) {
    std::u16string result;
    std::u16string component;
    for (size_t i = 0; i <= name.size(); ++i) {
        if (i < name.size() && !IsSeparator(name[i])) {
            component += name[i];
            continue;
        }
        // Drives lead to other places only at the front: "C:x", "C:/x", and "C:/../D:/x" once
        // its ".." is gone.
        while (result.empty() && component.size() >= 2 && IsDriveLetter(component[0]) && component[1] == u':')
            component.erase(0, 2);
        if (!component.empty() && component != u"." && component != u"..") {
            // Windows drops a name's last dots and spaces, and nothing would be left of this one.
            if (separator == u'\\' && component.find_first_not_of(u" .") == std::u16string::npos)
                component.assign(component.size(), u'_');
            if (!result.empty()) result += separator;
            result += component;
        }
        component.clear();
    }
    return CutAtCharacter(result, kLongestName);
}

std::u16string RedecodeAsUtf8(const std::u16string& latin1) {
    std::string bytes;
    bool beyondAscii = false;
    for (const char16_t c : latin1) {
        if (c > 0xFF) return latin1;
        beyondAscii = beyondAscii || c >= 0x80;
        bytes += char(c);
    }
    if (!beyondAscii) return latin1;
    const std::u16string decoded = text::FromUtf8(bytes);
    // Only valid UTF-8 survives the round trip unchanged.
    return text::ToUtf8(decoded) == bytes ? decoded : latin1;
}

std::u16string FromWide(const wchar_t* text) {
    std::u16string result;
    if (!text) return result;
    for (; *text; ++text) {
        const uint32_t c = uint32_t(*text);
        if (sizeof(wchar_t) == 2 || c < 0x10000) {
            result += char16_t(c);
        } else if (c <= 0x10FFFF) {
            result += char16_t(0xD800 + ((c - 0x10000) >> 10));
            result += char16_t(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            result += u'\uFFFD';
        }
    }
    return result;
}

}  // namespace formats

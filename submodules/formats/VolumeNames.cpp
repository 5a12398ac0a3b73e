#include "VolumeNames.h"

namespace formats {

namespace {

char16_t Lower(char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c - u'A' + u'a') : c; }

bool SameLetters(const std::u16string& text, size_t at, const std::u16string& lower) {
    if (at + lower.size() > text.size()) return false;
    for (size_t i = 0; i < lower.size(); ++i)
        if (Lower(text[at + i]) != lower[i]) return false;
    return true;
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// `value` in exactly `width` digits, zeros in front; empty when it needs more.
std::u16string Padded(size_t value, size_t width) {
    std::u16string digits(width, u'0');
    for (size_t i = width; i > 0; --i, value /= 10) digits[i - 1] = char16_t(u'0' + value % 10);
    return value == 0 ? digits : std::u16string();
}

}  // namespace

std::u16string LaterVolumeName(const std::u16string& first, size_t number) {
    const size_t nameStart = first.find_last_of(u"/\\") + 1;  // npos + 1 is 0
    if (number == 0 || first.size() < nameStart + 5 || !SameLetters(first, first.size() - 4, u".rar")) return {};
    const size_t extension = first.size() - 4;
    size_t digits = extension;
    while (digits > nameStart && IsDigit(first[digits - 1])) --digits;
    const size_t width = extension - digits;
    if (width > 0 && digits >= nameStart + 5 && SameLetters(first, digits - 5, u".part")) {
        // Only the first volume opens the set; a later one is read on its own.
        if (first.compare(digits, width, std::u16string(width - 1, u'0') + u"1") != 0) return {};
        const std::u16string later = Padded(number + 1, width);
        return later.empty() ? later : first.substr(0, digits) + later + first.substr(extension);
    }
    // .r00 to .r99, then .s00 and on to .z99, in the case of the first volume's "r".
    const size_t letter = (number - 1) / 100;
    if (letter > size_t(u'z' - u'r')) return {};
    return first.substr(0, extension + 1) + char16_t(first[extension + 1] + letter) + Padded((number - 1) % 100, 2);
}

}  // namespace formats

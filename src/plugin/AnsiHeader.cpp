#include "plugin/AnsiHeader.h"

#include <cstring>
#include <string>
#include <string_view>

#include "plugin/CodePages.h"

namespace {

std::u16string WideField(const PK_WCHAR* field) {
    const auto* text = reinterpret_cast<const char16_t*>(field);
    size_t length = 0;
    while (length < PK_NAME_WIDE && text[length]) ++length;
    return std::u16string(text, length);
}

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit < 0xDC00; }

// The first length code units of name, without the first half of a surrogate pair at the end
// (it would become a lone replacement character).
std::u16string_view Prefix(std::u16string_view name, size_t length) {
    name = name.substr(0, length);
    if (!name.empty() && IsHighSurrogate(name.back())) name.remove_suffix(1);
    return name;
}

// Converts the longest prefix of name whose ANSI form fits the field with its terminator, so
// that a multi-byte character is never cut in half. A prefix's ANSI form only grows with it,
// so the longest is found by halving. Unconvertible text gives an empty name.
void CopyName(char* field, const PK_WCHAR* wideField) {
    const std::u16string name = WideField(wideField);
    size_t fits = 0, tooLong = name.size() + 1;  // tooLong is never tried: nothing past the name
    std::string fitting;
    while (fits + 1 < tooLong) {
        const size_t middle = fits + (tooLong - fits) / 2;
        std::unique_ptr<std::string> ansi = WideToAnsi(Prefix(name, middle));
        if (!ansi) {
            field[0] = '\0';
            return;
        }
        if (ansi->size() < PK_NAME_ANSI) {
            fits = middle;
            fitting.swap(*ansi);
        } else {
            tooLong = middle;
        }
    }
    std::memcpy(field, fitting.c_str(), fitting.size() + 1);
}

}  // namespace

void CopyToAnsiHeader(const tHeaderDataExW& wide, tHeaderData& ansi) {
    CopyName(ansi.ArcName, wide.ArcName);
    CopyName(ansi.FileName, wide.FileName);
    ansi.PackSize = int(wide.PackSize);
    ansi.UnpSize = int(wide.UnpSize);
    ansi.FileCRC = wide.FileCRC;
    ansi.FileTime = wide.FileTime;
    ansi.FileAttr = wide.FileAttr;
}

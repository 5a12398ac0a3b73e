#include "plugin/AnsiHeader.h"

#include <cstring>
#include <string>
#include <string_view>

#include "plugin/CodePages.h"

namespace {

// The name in a wide field: up to its terminator, or the whole field when it has none.
std::u16string_view WideField(const PK_WCHAR* field) {
    const std::u16string_view whole(reinterpret_cast<const char16_t*>(field), PK_NAME_WIDE);
    return whole.substr(0, whole.find(u'\0'));
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
    const std::u16string_view name = WideField(wideField);
    size_t fits = 0, longest = name.size();  // the answer lies in [fits, longest]
    std::string fitting;
    while (fits < longest) {
        const size_t middle = longest - (longest - fits) / 2;  // above fits, so that each step moves
        std::unique_ptr<std::string> ansi = WideToAnsi(Prefix(name, middle));
        if (!ansi) {
            fitting.clear();
            break;
        }
        if (ansi->size() < PK_NAME_ANSI) {
            fits = middle;
            fitting.swap(*ansi);
        } else {
            longest = middle - 1;
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

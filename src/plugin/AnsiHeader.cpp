#include "plugin/AnsiHeader.h"

#include <cstring>
#include <string>

#include "plugin/CodePages.h"

namespace {

std::u16string WideField(const PK_WCHAR* field) {
    const auto* text = reinterpret_cast<const char16_t*>(field);
    size_t length = 0;
    while (length < PK_NAME_WIDE && text[length]) ++length;
    return std::u16string(text, length);
}

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit < 0xDC00; }

// Shortens name to length code units, never leaving the first half of a surrogate pair at its
// end (it would become a lone replacement character).
void CutTo(std::u16string& name, size_t length) {
    name.resize(length);
    if (!name.empty() && IsHighSurrogate(name.back())) name.pop_back();
}

// Converts the longest prefix of name whose ANSI form fits the field with its terminator, so
// that a multi-byte character is never cut in half. Unconvertible text gives an empty name.
void CopyName(char* field, const PK_WCHAR* wideField) {
    std::u16string name = WideField(wideField);
    if (name.size() > PK_NAME_ANSI - 1) CutTo(name, PK_NAME_ANSI - 1);  // every character is a byte at least
    for (;;) {
        std::unique_ptr<std::string> ansi = WideToAnsi(name);
        if (!ansi) {
            field[0] = '\0';
            return;
        }
        if (ansi->size() < PK_NAME_ANSI) {
            std::memcpy(field, ansi->c_str(), ansi->size() + 1);
            return;
        }
        CutTo(name, name.size() - 1);
    }
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

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

// Converts the longest prefix of name whose ANSI form fits the field with its terminator, so
// that a multi-byte character is never cut in half. Unconvertible text gives an empty name.
void CopyName(char* field, const PK_WCHAR* wideField) {
    std::u16string name = WideField(wideField);
    if (name.size() > PK_NAME_ANSI - 1) name.resize(PK_NAME_ANSI - 1);  // every character is a byte at least
    for (;;) {
        std::unique_ptr<std::string> ansi = WideToAnsi(name.c_str());
        if (!ansi) {
            field[0] = '\0';
            return;
        }
        if (ansi->size() < PK_NAME_ANSI) {
            std::memcpy(field, ansi->c_str(), ansi->size() + 1);
            return;
        }
        name.pop_back();
        if (!name.empty() && name.back() >= 0xD800 && name.back() < 0xDC00)
            name.pop_back();  // never leave half of a surrogate pair
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

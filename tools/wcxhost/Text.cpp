#include "Text.h"

#include <cstdio>

#include "plugin/PackerInterface.h"

namespace wcxhost {

namespace {

struct ResultText {
    int code;
    const char* name;
    const char* meaning;
};

const ResultText kResults[] = {
    {E_END_ARCHIVE, "E_END_ARCHIVE", "no more files in the archive"},
    {E_NO_MEMORY, "E_NO_MEMORY", "not enough memory"},
    {E_BAD_DATA, "E_BAD_DATA", "the data is damaged"},
    {E_BAD_ARCHIVE, "E_BAD_ARCHIVE", "the archive is damaged"},
    {E_UNKNOWN_FORMAT, "E_UNKNOWN_FORMAT", "the archive format is unknown"},
    {E_EOPEN, "E_EOPEN", "a file cannot be opened"},
    {E_ECREATE, "E_ECREATE", "the target file cannot be created"},
    {E_ECLOSE, "E_ECLOSE", "a file cannot be closed"},
    {E_EREAD, "E_EREAD", "the archive cannot be read"},
    {E_EWRITE, "E_EWRITE", "the target file cannot be written"},
    {E_SMALL_BUF, "E_SMALL_BUF", "a buffer is too small"},
    {E_EABORTED, "E_EABORTED", "cancelled by the user"},
    {E_NO_FILES, "E_NO_FILES", "no files found"},
    {E_TOO_MANY_FILES, "E_TOO_MANY_FILES", "too many files"},
    {E_NOT_SUPPORTED, "E_NOT_SUPPORTED", "not supported by the plug-in"},
};

}  // namespace

bool IsKnownResult(int code) {
    for (const ResultText& result : kResults)
        if (result.code == code) return true;
    return false;
}

std::string DescribeResult(int code) {
    for (const ResultText& result : kResults)
        if (result.code == code) return std::string(result.name) + " (" + std::to_string(code) + "): " + result.meaning;
    return "unknown result code " + std::to_string(code);
}

std::string FormatDosTime(int fileTime) {
    if (fileTime == 0) return "---------- --:--:--";
    const uint32_t t = uint32_t(fileTime);
    char text[40];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", 1980 + ((t >> 25) & 0x7F), (t >> 21) & 0x0F,
                  (t >> 16) & 0x1F, (t >> 11) & 0x1F, (t >> 5) & 0x3F, (t & 0x1F) * 2);
    return text;
}

std::string FormatAttributes(int attributes) {
    const struct {
        int bit;
        char letter;
    } letters[] = {{0x10, 'd'}, {0x01, 'r'}, {0x02, 'h'}, {0x04, 's'}, {0x20, 'a'}};
    std::string text;
    for (const auto& l : letters) text += (attributes & l.bit) ? l.letter : '-';
    return text;
}

std::string FormatBytes(uint64_t bytes) {
    const char* units[] = {"bytes", "KiB", "MiB", "GiB", "TiB"};
    double value = double(bytes);
    size_t unit = 0;
    while (value >= 1024 && unit + 1 < sizeof units / sizeof units[0]) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    if (unit == 0)
        std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
    else
        std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

std::string FormatCaps(int caps) {
    const struct {
        int bit;
        const char* name;
    } names[] = {{PK_CAPS_NEW, "NEW"},         {PK_CAPS_MODIFY, "MODIFY"},        {PK_CAPS_MULTIPLE, "MULTIPLE"},
                 {PK_CAPS_DELETE, "DELETE"},   {PK_CAPS_OPTIONS, "OPTIONS"},      {PK_CAPS_MEMPACK, "MEMPACK"},
                 {PK_CAPS_BY_CONTENT, "BY_CONTENT"}, {PK_CAPS_SEARCHTEXT, "SEARCHTEXT"}, {PK_CAPS_HIDE, "HIDE"},
                 {PK_CAPS_ENCRYPT, "ENCRYPT"}};
    std::string text;
    for (const auto& n : names) {
        if (!(caps & n.bit)) continue;
        if (!text.empty()) text += ", ";
        text += n.name;
    }
    return std::to_string(caps) + (text.empty() ? "" : " (" + text + ")");
}

}  // namespace wcxhost

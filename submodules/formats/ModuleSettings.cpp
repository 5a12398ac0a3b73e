#include "ModuleSettings.h"

#include <algorithm>

namespace formats {

namespace {

std::string Upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return text;
}

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Settings are plain ASCII; anything else cannot name a format, a number or a charset.
bool ToAscii(const std::u16string& text, std::string& out) {
    out.clear();
    for (const char16_t c : text) {
        if (c >= 0x80) return false;
        out += char(c);
    }
    return true;
}

bool ParseNumber(const std::string& text, uint32_t& number) {
    if (text.empty() || text.size() > 5) return false;
    number = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        number = number * 10 + uint32_t(c - '0');
    }
    return true;
}

// "a;b, c" -> the names, lower-cased, each of them one of `known`, without repeats.
bool ParseList(const std::string& value, const std::vector<std::string>& known, std::vector<std::string>& names,
               std::string& problem) {
    names.clear();
    std::string item;
    const std::string text = value + ";";
    for (const char c : text) {
        if (c != ';' && c != ',' && c != ' ' && c != '\t') {
            item += (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
            continue;
        }
        if (item.empty()) continue;
        if (std::find(known.begin(), known.end(), item) == known.end()) {
            problem = "unknown name \"" + item + "\"";
            return false;
        }
        if (std::find(names.begin(), names.end(), item) == names.end()) names.push_back(item);
        item.clear();
    }
    if (names.empty()) problem = "an empty list";
    return !names.empty();
}

// The number after `prefix`, when `name` is the prefix and digits only.
bool NumberAfter(const std::string& name, const std::string& prefix, uint32_t& number) {
    return name.compare(0, prefix.size(), prefix) == 0 && ParseNumber(name.substr(prefix.size()), number);
}

struct NamedCodePage {
    const char* name;
    uint32_t codePage;
};
const NamedCodePage kNamedCodePages[] = {
    {"UTF-8", 65001}, {"UTF8", 65001},     {"ASCII", 20127},      {"US-ASCII", 20127}, {"KOI8-R", 20866},
    {"KOI8-U", 21866}, {"SHIFT_JIS", 932}, {"SJIS", 932},         {"EUC-JP", 20932},   {"GBK", 936},
    {"BIG5", 950},     {"EUC-KR", 51949},  {"LATIN1", 28591},
};

}  // namespace

namespace {
// Made when the module is loaded: a function-local static would be guarded by a lock of the
// thread library, whose first use takes a thread-local slot that is never given back.
const std::vector<std::string> kKnownFormats = {"7zip", "ar", "cab", "cpio", "iso9660", "lha",
                                                "rar", "rar5", "tar", "warc", "xar", "zip"};
const std::vector<std::string> kKnownFilters = {"gzip", "bzip2", "xz", "lzma", "lzip", "zstd", "lz4", "compress", "uu",
                                                "rpm"};
}  // namespace

const std::vector<std::string>& KnownFormats() { return kKnownFormats; }

const std::vector<std::string>& KnownFilters() { return kKnownFilters; }

std::string CharsetOfCodePage(uint32_t codePage) {
    if (codePage == 0) return std::string();
    if (codePage >= 28591 && codePage <= 28606) return "ISO-8859-" + std::to_string(codePage - 28590);
    for (const NamedCodePage& named : kNamedCodePages)
        if (named.codePage == codePage) return named.name;
    return "CP" + std::to_string(codePage);
}

uint32_t CodePageOfCharset(const std::string& name) {
    const std::string upper = Upper(Trimmed(name));
    for (const NamedCodePage& named : kNamedCodePages)
        if (upper == named.name) return named.codePage;
    uint32_t number = 0;
    if (NumberAfter(upper, "ISO-8859-", number) || NumberAfter(upper, "ISO8859-", number))
        return number >= 1 && number <= 16 ? 28590 + number : 0;
    if (NumberAfter(upper, "CP", number) || NumberAfter(upper, "IBM", number) || NumberAfter(upper, "WINDOWS-", number))
        return number;
    return 0;
}

bool ParseSettings(const char16_t* text, ModuleSettings& settings, std::string& problem) {
    settings = ModuleSettings();
    bool codePageSeen = false;
    for (const char16_t* item = text; item && *item;) {
        const std::u16string line(item);
        item += line.size() + 1;
        const size_t equals = line.find(u'=');
        if (equals == std::u16string::npos) continue;
        std::string key, value;
        if (!ToAscii(line.substr(0, equals), key)) continue;
        const bool known = key == "Formats" || key == "Filters" || key == "CodePage" || key == "Charset" || key == "Options";
        if (!known) continue;
        if (!ToAscii(line.substr(equals + 1), value)) {
            problem = key + ": only ASCII text is understood";
            return false;
        }
        value = Trimmed(value);
        if (key == "Formats" && !ParseList(value, KnownFormats(), settings.formats, problem)) {
            problem = "Formats: " + problem;
            return false;
        }
        if (key == "Filters" && !ParseList(value, KnownFilters(), settings.filters, problem)) {
            problem = "Filters: " + problem;
            return false;
        }
        if (key == "CodePage" || key == "Charset") {
            if (codePageSeen) {
                problem = "CodePage and Charset name the code page twice";
                return false;
            }
            codePageSeen = true;
            uint32_t codePage = 0;
            if (key == "CodePage" && !ParseNumber(value, codePage)) codePage = 0;
            if (key == "Charset") codePage = CodePageOfCharset(value);
            if (codePage == 0) {
                problem = key + ": \"" + value + "\" names no code page";
                return false;
            }
            settings.codePage = codePage;
            settings.charset = key == "Charset" ? Upper(value) : CharsetOfCodePage(codePage);
        }
        if (key == "Options") settings.options = value;
    }
    return true;
}

}  // namespace formats

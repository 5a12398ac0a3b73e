#include "ModuleSettings.h"

#include <algorithm>

#include "FormatLibrary.h"

namespace sevenzip {

namespace {

bool ToAscii(const std::u16string& text, std::string& out) {
    out.clear();
    for (const char16_t c : text) {
        if (c >= 0x80) return false;
        out += char(c);
    }
    return true;
}

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// "a;b, c" -> the names, lower-cased, without repeats.
std::vector<std::u16string> ParseList(const std::string& value) {
    std::vector<std::u16string> names;
    std::u16string item;
    for (const char c : value + ";") {
        if (c != ';' && c != ',' && c != ' ' && c != '\t') {
            item += char16_t((c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c);
            continue;
        }
        if (!item.empty() && std::find(names.begin(), names.end(), item) == names.end()) names.push_back(item);
        item.clear();
    }
    return names;
}

bool Contains(const std::vector<std::u16string>& names, const std::u16string& name) {
    return std::find(names.begin(), names.end(), LowerCase(name)) != names.end();
}

}  // namespace

ModuleSettings::ModuleSettings() : excluded{u"pe", u"elf", u"macho", u"te", u"coff"} {}

bool ModuleSettings::Allows(const Format& format) const {
    if (Contains(excluded, format.name)) return false;
    return !formatsGiven || Contains(formats, format.name);
}

bool ParseSettings(const char16_t* text, ModuleSettings& settings, std::string& problem) {
    settings = ModuleSettings();
    for (const char16_t* item = text; item && *item;) {
        const std::u16string line(item);
        item += line.size() + 1;
        const size_t equals = line.find(u'=');
        if (equals == std::u16string::npos) continue;
        std::string key, value;
        if (!ToAscii(line.substr(0, equals), key)) continue;
        if (key != "Formats" && key != "Exclude" && key != "Nested") continue;
        if (!ToAscii(line.substr(equals + 1), value)) {
            problem = key + ": only ASCII text is understood";
            return false;
        }
        value = Trimmed(value);
        if (key == "Formats") {
            settings.formats = ParseList(value);
            settings.formatsGiven = true;
            if (settings.formats.empty()) {
                problem = "Formats: an empty list";
                return false;
            }
        } else if (key == "Exclude") {
            settings.excluded = ParseList(value);
        } else if (value == "0" || value == "1") {
            settings.nested = value == "1";
        } else {
            problem = "Nested: \"" + value + "\" is neither 0 nor 1";
            return false;
        }
    }
    return true;
}

bool NamesAreKnown(const ModuleSettings& settings, const FormatLibrary& library, std::string& problem) {
    const std::vector<std::u16string>* lists[] = {&settings.formats, &settings.excluded};
    const ModuleSettings defaults;
    for (const auto* list : lists) {
        for (const std::u16string& name : *list) {
            // The default exclusions name formats that a library may lack.
            if (list == &settings.excluded && Contains(defaults.excluded, name)) continue;
            if (library.Find(name)) continue;
            problem = "7-Zip's library has no format \"";
            for (const char16_t c : name) problem += char(c);
            problem += "\"";
            return false;
        }
    }
    return true;
}

}  // namespace sevenzip

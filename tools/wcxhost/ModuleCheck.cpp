#include "ModuleCheck.h"

#include "HostPlatform.h"
#include "Text.h"

namespace wcxhost {

namespace {

std::u16string Decode(const std::string& bytes) {
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xFE) {
        std::u16string text;
        for (size_t i = 2; i + 1 < bytes.size(); i += 2)
            text += char16_t(static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8));
        return text;
    }
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return FromUtf8(bytes.substr(3));
    return FromUtf8(bytes);
}

std::u16string Trimmed(const std::u16string& text) {
    const size_t first = text.find_first_not_of(u" \t");
    if (first == std::u16string::npos) return std::u16string();
    return text.substr(first, text.find_last_not_of(u" \t") - first + 1);
}

std::u16string Lowered(std::u16string text) {
    for (char16_t& c : text)
        if (c >= u'A' && c <= u'Z') c = char16_t(c - u'A' + u'a');
    return text;
}

}  // namespace

std::vector<NamedModule> ModulesNamedIn(const std::string& iniBytes) {
    const std::u16string text = Decode(iniBytes);
    std::vector<NamedModule> modules;
    bool inModules = false;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of(u"\r\n", start);
        if (end == std::u16string::npos) end = text.size();
        const std::u16string line = Trimmed(text.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line[0] == u';') continue;
        if (line[0] == u'[') {
            const size_t close = line.find(u']');
            inModules = close != std::u16string::npos && line.substr(1, close - 1) == u"Modules";
            continue;
        }
        const size_t equals = line.find(u'=');
        if (!inModules || equals == std::u16string::npos || equals == 0) continue;
        NamedModule module;
        module.name = Trimmed(line.substr(0, equals));
        module.file = Trimmed(line.substr(equals + 1));
        // A repeated key names one module, the last value winning at the place of the first.
        bool repeated = false;
        for (NamedModule& known : modules)
            if (known.name == module.name) {
                known.file = module.file;
                repeated = true;
            }
        if (!repeated) modules.push_back(module);
    }
    return modules;
}

size_t ModuleCheck::Loaded() const {
    size_t loaded = 0;
    for (const NamedModule& module : modules)
        if (module.loaded) ++loaded;
    return loaded;
}

std::string ModuleCheck::NotLoaded() const {
    std::string list;
    for (const NamedModule& module : modules) {
        if (module.loaded) continue;
        if (!list.empty()) list += ", ";
        list += ToUtf8(module.name) + "=" + ToUtf8(module.file);
    }
    return list;
}

std::string ModuleCheck::NoModuleMessage() const {
    if (!applies || Loaded() > 0) return std::string();
    std::string reason;
    if (!iniFound) reason = "there is no " + ToUtf8(iniPath);
    else if (modules.empty()) reason = "its [Modules] section names no module";
    else reason = "none of the modules it names was loaded: " + NotLoaded();
    return "no sub-module loaded: check " + ToUtf8(platform::kMorvaneIniName) + " beside the plug-in (" + reason + ")";
}

ModuleCheck CheckMorvaneModules(const std::u16string& pluginPath) {
    ModuleCheck check;
    const size_t slash = pluginPath.find_last_of(u"\\/");
    const std::u16string folder = slash == std::u16string::npos ? std::u16string() : pluginPath.substr(0, slash + 1);
    const std::u16string fileName = slash == std::u16string::npos ? pluginPath : pluginPath.substr(slash + 1);
    check.iniPath = folder + platform::kMorvaneIniName;
    std::string bytes;
    check.iniFound = platform::ReadWholeFile(check.iniPath, bytes);
    check.applies = check.iniFound || Lowered(fileName).compare(0, 7, u"morvane") == 0;
    if (!check.iniFound) return check;
    check.modules = ModulesNamedIn(bytes);
    for (NamedModule& module : check.modules) module.loaded = platform::IsLibraryLoaded(folder + module.file);
    return check;
}

}  // namespace wcxhost

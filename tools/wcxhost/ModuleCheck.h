// Morvane loads the sub-modules that its INI file names and says nothing about those that fail
// unless asked to. wcxhost reads the same INI file and looks which of the libraries are loaded
// in its process, so that "the archive format is unknown" can come with the reason.
#pragma once

#include <string>
#include <vector>

namespace wcxhost {

struct NamedModule {
    std::u16string name;  // the key in [Modules]
    std::u16string file;  // the value: the library, relative to the plug-in's folder
    bool loaded = false;
};

// The [Modules] entries of an INI file, given as its bytes (UTF-16 LE with a byte-order mark, or
// UTF-8 / ASCII), in their order; lines starting with ';' are comments.
std::vector<NamedModule> ModulesNamedIn(const std::string& iniBytes);

struct ModuleCheck {
    bool applies = false;  // a Morvane plug-in, or an INI of Morvane's name beside the plug-in
    bool iniFound = false;
    std::u16string iniPath;
    std::vector<NamedModule> modules;

    size_t Loaded() const;
    // The line to print when no module is loaded; empty when some module is or the check does
    // not apply.
    std::string NoModuleMessage() const;
    // The modules that did not load, as "name=file, ..."; empty when all did.
    std::string NotLoaded() const;
};

// pluginPath: the full path of the loaded plug-in library.
ModuleCheck CheckMorvaneModules(const std::u16string& pluginPath);

}  // namespace wcxhost

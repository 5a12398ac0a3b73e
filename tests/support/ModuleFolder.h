// A plug-in folder for tests: copies of the test sub-module under chosen names and an INI file.
#pragma once

#include <string>

#include "support/TestFiles.h"

namespace testing_support {

// Where the build put the test sub-module for this platform.
fs::path TestModuleFile(bool withoutUnload = false);
// Whether the library at path is loaded in this process.
bool LibraryLoaded(const fs::path& path);

class ModuleFolder {
public:
    // Copies the test sub-module as <name> + the platform's library suffix.
    void AddModule(const std::string& name, bool withoutUnload = false);
    void WriteIni(const std::string& fileName, const std::string& text);
    std::string LibraryName(const std::string& name) const { return name + TESTMODULE_SUFFIX; }
    // The shared log of every module whose section says "Log=" + LogPath().
    fs::path LogPath() const { return folder.Path() / "calls.log"; }
    std::string LogSetting() const { return "Log=" + LogPath().u8string(); }

    TempFolder folder;
};

}  // namespace testing_support

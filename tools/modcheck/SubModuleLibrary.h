// The sub-module library under test: loaded as Morvane loads it, its two exports, the settings
// text that LoadSubModule receives, and the check of what LoadSubModule hands back.
#pragma once

#include <string>
#include <vector>

#include "Report.h"
#include "modules/SubModuleContract.h"

namespace modcheck {

class SubModuleLibrary {
public:
    SubModuleLibrary() = default;
    SubModuleLibrary(const SubModuleLibrary&) = delete;
    SubModuleLibrary& operator=(const SubModuleLibrary&) = delete;
    ~SubModuleLibrary();

    bool Open(const std::u16string& path, std::string& error);
    bool HasBothExports() const { return load_ && unload_; }
    std::string MissingExports() const;

    // LoadSubModule with the settings text made of `items` ("key=value"), reported as `rule`.
    // True when the module accepted and filled `operations` completely; only then may Unload follow.
    bool Load(Report& report, const std::string& rule, const std::vector<std::u16string>& items,
              SubModuleInterface& operations);
    void Unload();

private:
    void* library_ = nullptr;
    LoadSubModuleFunction load_ = nullptr;
    UnloadSubModuleFunction unload_ = nullptr;
};

// "key=value\0" for each item, then one more zero: a module's INI section as Morvane flattens it.
std::vector<SM_WCHAR> SettingsText(const std::vector<std::u16string>& items);

}  // namespace modcheck

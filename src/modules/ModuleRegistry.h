// The process-wide ordered list of bound sub-modules, in [Modules] order.
#pragma once

#include <string>
#include <vector>

#include "config/IniDocument.h"
#include "modules/LoadFailure.h"
#include "modules/ModuleRecord.h"
#include "modules/ProbeRequest.h"

class ModuleRegistry {
public:
    ModuleRegistry() = default;
    ModuleRegistry(const ModuleRegistry&) = delete;
    ModuleRegistry& operator=(const ModuleRegistry&) = delete;
    ~ModuleRegistry() { Unload(); }

    // Loads every module of [Modules]; failures are appended to failures in the same order.
    // Throws nothing: a module that cannot be loaded for want of memory is one more failure.
    void Load(const std::u16string& pluginDirectory, const IniDocument& document,
              std::vector<LoadFailure>& failures);
    // UnloadSubModule (guarded) then release, first to last; leaves the registry empty.
    void Unload();
    static bool LoadModule(const std::u16string& pluginDirectory, ModuleRecord& record,
                           const std::u16string& settingsText, std::u16string& errorText);

    // Offers the file to the modules in order; answers the claiming module's answer, or 0.
    int32_t SelectModule(const ProbeRequest* request, int32_t* moduleIndex, ContainerHandle* handle,
                         void* owner) const;

    size_t Size() const { return records_.size(); }
    const ModuleRecord& At(size_t index) const { return records_[index]; }

private:
    // Loads one [Modules] pair; may throw for want of memory, but never leaves a bound module
    // outside the registry.
    void LoadEntry(const std::u16string& pluginDirectory, const IniDocument& document, const IniSection* filters,
                   const IniSection::Pair& pair, std::vector<LoadFailure>& failures);

    std::vector<ModuleRecord> records_;
};

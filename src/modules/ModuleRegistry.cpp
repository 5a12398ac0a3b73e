#include "modules/ModuleRegistry.h"

#include <type_traits>

#include "modules/GuardedCall.h"

namespace {

// The failure text of a module that could not be loaded for want of memory.
const char16_t* const kOutOfMemoryText = u"Not enough memory to load the module.\r\n";

// What runs under the exception guard: the module's own call, and our check and copy of its record.
struct BindCall {
    ModuleRecord* record;
    SubModuleInterface* contract;
    bool accepted;
};

void BindUnderGuard(void* context) {
    BindCall& call = *static_cast<BindCall*>(context);
    const int32_t answer = call.record->loadSubModule(call.contract);
    const SubModuleInterface& c = *call.contract;
    if (answer == 0 || c.Version != SM_INTERFACE_VERSION || !c.OpenProc || !c.CloseProc || !c.PrepareProc ||
        !c.ReadEntryProc || !c.ExtractProc)
        return;
    call.record->OpenProc = c.OpenProc;
    call.record->CloseProc = c.CloseProc;
    call.record->ReadEntryProc = c.ReadEntryProc;
    call.record->ExtractProc = c.ExtractProc;
    call.record->PrepareProc = c.PrepareProc;
    call.accepted = true;
}

void Release(ModuleRecord& record) {
    platform::ReleaseLibrary(record.library);
    record.library = nullptr;
}

}  // namespace

void ModuleRegistry::Load(const std::u16string& pluginDirectory, const IniDocument& document,
                          std::vector<LoadFailure>& failures) {
    Unload();
    const IniSection* modules = document.FindSection(u"Modules");
    if (!modules) return;
    const IniSection* filters = document.FindSection(u"Filters");
    for (const IniSection::Pair& pair : modules->Pairs()) {
        try {
            LoadEntry(pluginDirectory, document, filters, pair, failures);
        } catch (...) {
            // Out of memory: this module is reported as failed and the next one is tried.
            try {
                failures.push_back(LoadFailure{pair.first, kOutOfMemoryText});
            } catch (...) {
            }
        }
    }
}

void ModuleRegistry::LoadEntry(const std::u16string& pluginDirectory, const IniDocument& document,
                               const IniSection* filters, const IniSection::Pair& pair,
                               std::vector<LoadFailure>& failures) {
    ModuleRecord record(pair.first, pair.second);
    const IniSection* own = document.FindSection(record.moduleName);
    const std::u16string settingsText = own ? own->Flatten() : std::u16string(1, u'\0');
    // Everything that can fail is done before the module is bound: once bound, only moves that
    // cannot throw stand between it and the registry that unloads it.
    std::u16string maskList;
    if (filters && filters->GetString(record.moduleName, maskList)) record.AddMasks(maskList.c_str());
    records_.reserve(records_.size() + 1);
    std::u16string errorText;
    if (!LoadModule(pluginDirectory, record, settingsText, errorText)) {
        failures.push_back(LoadFailure{record.moduleName, errorText});
        return;
    }
    static_assert(std::is_nothrow_move_constructible<ModuleRecord>::value, "a bound module must move without throwing");
    records_.push_back(std::move(record));
}

bool ModuleRegistry::LoadModule(const std::u16string& pluginDirectory, ModuleRecord& record,
                                const std::u16string& settingsText, std::u16string& errorText) {
    if (record.moduleName.empty() || record.libraryFile.empty()) return false;
    // Composed without a length limit: a path the platform refuses fails with its own text.
    record.library = platform::LoadLibraryFromPath(pluginDirectory + record.libraryFile, errorText);
    if (!record.library) return false;
    record.loadSubModule =
        reinterpret_cast<LoadSubModuleFunction>(platform::FindExport(record.library, "LoadSubModule"));
    record.unloadSubModule =
        reinterpret_cast<UnloadSubModuleFunction>(platform::FindExport(record.library, "UnloadSubModule"));
    if (!record.loadSubModule || !record.unloadSubModule) {
        Release(record);
        return false;
    }
    SubModuleInterface contract{};
    contract.SettingsText = reinterpret_cast<const SM_WCHAR*>(settingsText.c_str());
    BindCall call{&record, &contract, false};
    uint32_t exceptionCode = 0;
    if (!platform::CallGuarded(BindUnderGuard, &call, exceptionCode)) {
        Release(record);
        errorText = platform::ExceptionText(exceptionCode);
        return false;
    }
    if (!call.accepted) {
        Release(record);
        return false;
    }
    return true;
}

void ModuleRegistry::Unload() {
    platform::FaultGuardHold hold;
    for (ModuleRecord& record : records_) {
        // A module that faults here is released all the same: nothing of it runs afterwards.
        auto unload = [&record] { record.unloadSubModule(); };
        platform::GuardedCall state;
        RunGuarded(unload, state);
        Release(record);
    }
    records_.clear();
}

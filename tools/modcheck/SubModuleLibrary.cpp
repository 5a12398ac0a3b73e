#include "SubModuleLibrary.h"

#include <cstdint>

#include "CallUnderWay.h"
#include "CheckSystem.h"
#include "text/Utf8.h"

namespace modcheck {

SubModuleLibrary::~SubModuleLibrary() {
    if (library_) sys::FreeLibraryFile(library_);
}

bool SubModuleLibrary::Open(const std::u16string& path, std::string& error) {
    library_ = sys::LoadLibraryFile(path, error);
    if (!library_) return false;
    load_ = reinterpret_cast<LoadSubModuleFunction>(sys::FindExport(library_, "LoadSubModule"));
    unload_ = reinterpret_cast<UnloadSubModuleFunction>(sys::FindExport(library_, "UnloadSubModule"));
    return true;
}

std::string SubModuleLibrary::MissingExports() const {
    if (!load_ && !unload_) return "LoadSubModule and UnloadSubModule";
    return load_ ? "UnloadSubModule" : "LoadSubModule";
}

std::vector<SM_WCHAR> SettingsText(const std::vector<std::u16string>& items) {
    std::vector<SM_WCHAR> text;
    for (const std::u16string& item : items) {
        for (const char16_t unit : item) text.push_back(SM_WCHAR(unit));
        text.push_back(0);
    }
    text.push_back(0);
    return text;
}

bool SubModuleLibrary::Load(Report& report, const std::string& rule, const std::vector<std::u16string>& items,
                            SubModuleInterface& operations) {
    std::string shown;
    for (const std::u16string& item : items) shown += (shown.empty() ? "" : ";") + text::ToUtf8(item);
    const std::string subject = items.empty() ? "an empty settings text" : "the settings text \"" + shown + "\"";

    int32_t answer = 0;
    {
        // The text lives only during the call, as in Morvane: a module that keeps the pointer
        // reads freed memory afterwards.
        std::vector<SM_WCHAR> text = SettingsText(items);
        operations = SubModuleInterface();
        operations.SettingsText = text.data();
        answer = CallModule("LoadSubModule with " + subject, [&] { return load_(&operations); });
        operations.SettingsText = nullptr;
    }

    std::vector<std::string> problems;
    if (answer == 0) problems.push_back("LoadSubModule answered 0 (the module refused to load)");
    if (operations.Version != SM_INTERFACE_VERSION)
        problems.push_back("Version is " + std::to_string(operations.Version) + ", expected " +
                           std::to_string(SM_INTERFACE_VERSION));
    const std::pair<const char*, bool> set[] = {
        {"OpenProc", operations.OpenProc != nullptr},       {"CloseProc", operations.CloseProc != nullptr},
        {"ReadEntryProc", operations.ReadEntryProc != nullptr}, {"ExtractProc", operations.ExtractProc != nullptr},
        {"PrepareProc", operations.PrepareProc != nullptr}};
    for (const auto& operation : set)
        if (!operation.second) problems.push_back(std::string(operation.first) + " is null");
    report.Verdict(rule, "", problems,
                   "LoadSubModule with " + subject + " answered " + std::to_string(answer) + ", Version " +
                       std::to_string(operations.Version) + ", all five operations set");
    return problems.empty();
}

void SubModuleLibrary::Unload() {
    CallModule("UnloadSubModule", [&] { return unload_(); });
}

}  // namespace modcheck

#include "plugin/PluginLifetime.h"

#include <vector>

#include "config/IniDocument.h"
#include "plugin/HostDialogs.h"
#include "plugin/PluginState.h"
#include "platform/Platform.h"

PluginState& Plugin() {
    static PluginState state;
    return state;
}

const char16_t* IniFileName() { return sizeof(void*) == 8 ? u"morvane64.ini" : u"morvane.ini"; }

void LoadConfiguration(const std::u16string& pluginDirectory) {
    PluginState& plugin = Plugin();
    IniDocument document;
    document.Load(pluginDirectory + IniFileName());
    if (const IniSection* general = document.FindSection(u"General")) {
        general->GetInt(u"UseExtensionFilters", plugin.useExtensionFilters);
        general->GetInt(u"VerboseModuleLoad", plugin.verboseModuleLoad);
    }
    std::vector<LoadFailure> failures;
    plugin.registry.Load(pluginDirectory, document, failures);
    if (plugin.verboseModuleLoad == 0) return;
    std::u16string report;
    for (const LoadFailure& failure : failures) report += failure.moduleName + u":" + failure.errorText;
    if (!report.empty()) ShowFailureReport(report, u"Morvane failed modules:");
}

void OnProcessAttach(void* instance) {
    Plugin().pluginInstance = instance;
    // Nothing may escape into the loader: what loaded before a failure stays registered.
    try {
        const std::u16string directory = platform::ModuleDirectory(instance);
        // Without its own folder the plug-in has no configuration, rather than some other folder's.
        if (!directory.empty()) LoadConfiguration(directory);
    } catch (...) {
    }
}

void OnProcessDetach() {
    ReleasePendingReport();
    Plugin().registry.Unload();
}

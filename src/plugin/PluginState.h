// What lives for the whole time the plug-in library is loaded in the file manager's process.
#pragma once

#include <cstdint>
#include <string>

#include "archive/PasswordCache.h"
#include "modules/ModuleRegistry.h"

struct PluginState {
    void* pluginInstance = nullptr;
    // Extension filtering is on only while this equals 1.
    int32_t useExtensionFilters = 1;
    // Not 0: failures are reported to the user (modules that did not load, and faults).
    int32_t verboseModuleLoad = 0;
    // Declared first, so that it outlives the registry.
    PasswordCache passwords;
    ModuleRegistry registry;
};

PluginState& Plugin();

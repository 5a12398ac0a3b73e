// Start-up and shut-down of the plug-in, run from the library's load and unload notifications.
#pragma once

#include <string>

// The INI file's name for this build's word size.
const char16_t* IniFileName();

// Reads the INI file in pluginDirectory (ending in a separator), applies [General], loads the
// sub-modules and shows the failure report when [General] VerboseModuleLoad asks for it.
void LoadConfiguration(const std::u16string& pluginDirectory);

void OnProcessAttach(void* instance);
void OnProcessDetach();

// The plug-in's DLL entry point: start-up on process attach, shut-down on process detach.
#include <windows.h>

#include "plugin/PluginLifetime.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) OnProcessAttach(instance);
    else if (reason == DLL_PROCESS_DETACH) OnProcessDetach();
    // Start-up never makes loading the plug-in fail.
    return TRUE;
}

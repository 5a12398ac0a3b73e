// Without DLL notifications, start-up runs when the shared object is loaded and shut-down when
// it is unloaded.
#include "plugin/PluginLifetime.h"

namespace {
int anchor;  // an address inside this shared object, to find its folder

__attribute__((constructor)) void LibraryLoaded() { OnProcessAttach(&anchor); }
__attribute__((destructor)) void LibraryUnloaded() { OnProcessDetach(); }
}  // namespace

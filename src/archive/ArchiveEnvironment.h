// What every ArchiveObject of the process shares: the registry, the password cache, the
// filtering switch and the ways to reach the user.
#pragma once

#include <cstdint>
#include <string>

#include "archive/PasswordCache.h"
#include "modules/ModuleRegistry.h"

// The file manager's two progress callbacks, kept without their types: only the exports know
// the host's interface and call them (through ArchiveEnvironment::reportProgress).
struct HostProgress {
    void (*wide)() = nullptr;
    void (*narrow)() = nullptr;
};

struct ArchiveEnvironment {
    const ModuleRegistry* registry = nullptr;
    PasswordCache* passwords = nullptr;
    const int32_t* useExtensionFilters = nullptr;  // filtering is on only when it equals one
    // Shows the password dialog; true only for OK, with the text in buffer.
    bool (*askPassword)(char* buffer, int32_t capacity) = nullptr;
    // Hands a progress amount to the host's callbacks, the wide one preferred.
    void (*reportProgress)(const HostProgress& progress, int32_t amount) = nullptr;
    // Tells the user that a sub-module faulted, where the user asked for such reports (text: the
    // module, the call and the archive, then the platform's text for the fault).
    void (*reportFault)(const std::u16string& text) = nullptr;
};

// What every ArchiveObject of the process shares: the registry, the password cache, the
// filtering switch and the way to ask the user for a password.
#pragma once

#include <cstdint>

#include "archive/PasswordCache.h"
#include "modules/ModuleRegistry.h"

struct ArchiveEnvironment {
    const ModuleRegistry* registry = nullptr;
    PasswordCache* passwords = nullptr;
    const int32_t* useExtensionFilters = nullptr;  // filtering is on only when it equals 1
    // Shows the password dialog; true only for OK, with the text in buffer.
    bool (*askPassword)(char* buffer, int32_t capacity) = nullptr;
};

// What one search over the sub-modules offers them; it stays on Morvane's side.
#pragma once

#include <cstdint>

struct ProbeRequest {
    const char16_t* archivePath = nullptr;
    const char* password = nullptr;        // null on the first offer
    bool extensionFiltering = true;        // ask only modules whose masks match the path
    int32_t forcedModuleIndex = -1;        // any module, or else only this one
    uintptr_t reserved1 = 0;
    uintptr_t reserved2 = 0;
};

// The Linux form of the structured-exception guard: fault signals caught on the guarded thread.
#pragma once

#include <cstdint>

namespace platform {

// The name of a fault signal that CallGuarded reports, or null for any other code.
const char* FaultSignalName(uint32_t code);

}  // namespace platform

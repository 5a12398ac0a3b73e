// The file manager's 32-bit DOS date and time stamp.
#pragma once

#include <cstdint>

// A FILETIME (UTC) as a local DOS stamp; 0 stays 0.
uint32_t DosTimeFromFileTime(uint64_t utcFileTime);

#include "archive/DosTime.h"

#include "platform/Platform.h"

uint32_t DosTimeFromFileTime(uint64_t utcFileTime) {
    if (utcFileTime == 0) return 0;
    const platform::CivilTime t = platform::LocalCivilTime(utcFileTime);
    // Seven bits of years since 1980: years outside 1980-2107 wrap around.
    return ((uint32_t(t.year) - 1980u) & 0x7Fu) << 25 | uint32_t(t.month) << 21 | uint32_t(t.day) << 16 |
           uint32_t(t.hour) << 11 | uint32_t(t.minute) << 5 | uint32_t(t.second) / 2;
}

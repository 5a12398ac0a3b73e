// The Linux platform's time conversions with any 64-bit FILETIME a sub-module may hand over:
// values of 2^63 and more are no time (as on Windows), and nothing overflows on the way.
#if !defined(_WIN32)
#include <gtest/gtest.h>

#include <cstdint>

#include "platform/Platform.h"

namespace {

TEST(PosixTime, AnyFileTimeConvertsWithoutOverflow) {
    struct Case {
        uint64_t fileTime;
        uint16_t year;  // 0: no time
    };
    const Case cases[] = {
        {0xFFFFFFFFFFFFFFFFull, 0},
        {0x8000000000000000ull, 0},
        {0x7FFFFFFFFFFFFFFFull, 30828},
        {1, 1601},
        {116444736000000000ull - 1, 1970},  // a tick before 1970 UTC is 1970 in Tokyo
        {116444736000000000ull + 1, 1970},
    };
    for (const Case& c : cases) EXPECT_EQ(platform::LocalCivilTime(c.fileTime).year, c.year) << c.fileTime;
}

}  // namespace
#endif

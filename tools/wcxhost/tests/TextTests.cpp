// How wcxhost shows what the interface reports: DOS time stamps, attributes, result codes, names.
#include <gtest/gtest.h>

#include "Text.h"

using namespace wcxhost;

TEST(WcxhostText, DecodesDosTimeStamps) {
    EXPECT_EQ(FormatDosTime(0x58B16DAF), "2024-05-17 13:45:30");
    // (2107-1980)<<25 | 12<<21 | 31<<16 | 23<<11 | 59<<5 | 29
    EXPECT_EQ(FormatDosTime(int((127u << 25) | (12u << 21) | (31u << 16) | (23u << 11) | (59u << 5) | 29u)),
              "2107-12-31 23:59:58");
    EXPECT_EQ(FormatDosTime((1 << 21) | (1 << 16)), "1980-01-01 00:00:00");
    EXPECT_EQ(FormatDosTime(0), "---------- --:--:--");
}

TEST(WcxhostText, ShowsAttributesAsLetters) {
    EXPECT_EQ(FormatAttributes(0x10), "d----");
    EXPECT_EQ(FormatAttributes(0x21), "-r--a");
    EXPECT_EQ(FormatAttributes(0x37), "drhsa");
    EXPECT_EQ(FormatAttributes(0), "-----");
}

TEST(WcxhostText, NamesEveryResultCode) {
    const char* names[] = {"E_END_ARCHIVE", "E_NO_MEMORY", "E_BAD_DATA", "E_BAD_ARCHIVE", "E_UNKNOWN_FORMAT",
                           "E_EOPEN", "E_ECREATE", "E_ECLOSE", "E_EREAD", "E_EWRITE", "E_SMALL_BUF", "E_EABORTED",
                           "E_NO_FILES", "E_TOO_MANY_FILES", "E_NOT_SUPPORTED"};
    for (int code = 10; code <= 24; ++code) {
        EXPECT_TRUE(IsKnownResult(code));
        EXPECT_EQ(DescribeResult(code).rfind(std::string(names[code - 10]) + " (" + std::to_string(code) + "): ", 0), 0u)
            << DescribeResult(code);
    }
    EXPECT_FALSE(IsKnownResult(9));
    EXPECT_FALSE(IsKnownResult(25));
    EXPECT_EQ(DescribeResult(42), "unknown result code 42");
}

TEST(WcxhostText, ConvertsNamesBetweenUtf16AndUtf8) {
    const std::u16string name = u"caf\u00E9\\\u65E5\u672C \U0001F600.txt";
    EXPECT_EQ(ToUtf8(name), "caf\xC3\xA9\\\xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80.txt");
    EXPECT_EQ(FromUtf8(ToUtf8(name)), name);
    EXPECT_EQ(ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
    EXPECT_EQ(FromUtf8("a\xFF" "b"), u"a\uFFFDb");
    EXPECT_EQ(FromUtf8("\xC3"), u"\uFFFD");
}

TEST(WcxhostText, FormatsByteCounts) {
    EXPECT_EQ(FormatBytes(0), "0 bytes");
    EXPECT_EQ(FormatBytes(1023), "1023 bytes");
    EXPECT_EQ(FormatBytes(1536), "1.5 KiB");
    EXPECT_EQ(FormatBytes(9ull << 30), "9.0 GiB");
}

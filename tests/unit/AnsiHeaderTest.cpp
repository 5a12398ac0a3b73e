// The ANSI header's names: cut to fit their 260-byte fields in the system's ANSI code page, on a
// character boundary, terminator inside the field. Multi-byte cases use this process's code page
// (UTF-8 on Linux); where it has one byte per character they cannot arise and are left out.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/Platform.h"
#include "plugin/AnsiHeader.h"
#include "support/TestFiles.h"

using testing_support::Utf8;

namespace {

std::string Ansi(const std::u16string& text) {
    std::string ansi;
    EXPECT_TRUE(platform::WideToAnsi(text, ansi)) << Utf8(text);
    return ansi;
}

void SetWide(PK_WCHAR* field, const std::u16string& text) {
    std::memset(field, 0, PK_NAME_WIDE * sizeof(PK_WCHAR));
    for (size_t i = 0; i < text.size() && i < PK_NAME_WIDE; ++i) field[i] = PK_WCHAR(text[i]);
}

template <typename Text>
Text Repeat(const Text& text, size_t times) {
    Text result;
    for (size_t i = 0; i < times; ++i) result += text;
    return result;
}

struct Case {
    std::string what;
    std::u16string name;
    std::string expected;
    bool multiByte;
};

std::vector<Case> NameCases() {
    std::vector<Case> cases = {
        {"259 ASCII letters fit", std::u16string(259, u'a'), std::string(259, 'a'), false},
        {"300 ASCII letters are cut to 259", std::u16string(300, u'a'), std::string(259, 'a'), false},
        {"an empty name", u"", "", false},
        {"one letter", u"a", "a", false},
    };
    for (const std::u16string c : {u"\u00E9", u"\u3042", u"\u4E2D", u"\u20AC"}) {
        const std::string ansi = Ansi(c);
        const size_t length = ansi.size();
        if (length < 2) continue;  // one byte in this code page
        const std::string label = Utf8(c) + " (" + std::to_string(length) + " bytes)";
        cases.push_back({label + " ending at byte 260 is dropped, so that the terminator fits",
                         std::u16string(260 - length, u'a') + c, std::string(260 - length, 'a'), true});
        cases.push_back({label + " ending at byte 259 is kept", std::u16string(259 - length, u'a') + c,
                         std::string(259 - length, 'a') + ansi, true});
        cases.push_back({label + " repeated 259 times keeps the whole characters that fit", Repeat(std::u16string(c), 259),
                         Repeat(ansi, 259 / length), true});
    }
    // A character outside the BMP is a surrogate pair; cutting between its halves would leave one
    // half, which converts to a replacement text shorter than the whole character. Only code pages
    // that give a pair three bytes or more reach this cut with names of at most 259 code units.
    const std::u16string pair = u"\U0001F600";
    const std::string pairAnsi = Ansi(pair);
    const std::string halfAnsi = Ansi(pair.substr(0, 1));
    if (pairAnsi.size() >= 3 && halfAnsi.size() < pairAnsi.size()) {
        const size_t before = 260 - pairAnsi.size();
        cases.push_back({"a surrogate pair ending at byte 260 goes whole", std::u16string(before, u'a') + pair,
                         std::string(before, 'a'), true});
        cases.push_back({"a surrogate pair ending at byte 259 stays whole", std::u16string(before - 1, u'a') + pair,
                         std::string(before - 1, 'a') + pairAnsi, true});
        cases.push_back({"surrogate pairs only", Repeat(pair, 129), Repeat(pairAnsi, 259 / pairAnsi.size()), true});
    }
    // Past 259 code units a name may still fit: a pair is two units but one character, which
    // single-byte code pages write as one byte.
    const std::string lastPair = 258 + pairAnsi.size() <= 259 ? pairAnsi : "";
    cases.push_back({"a pair in units 259 and 260 stays when its ANSI form fits", std::u16string(258, u'a') + pair,
                     std::string(258, 'a') + lastPair, false});
    // The lowest pair ends in U+DC00: cutting the letter after it must leave the pair alone.
    const std::u16string lowest = u"\U00010000";
    const std::string lowestAnsi = Ansi(lowest);
    if (lowestAnsi.size() >= 3 && Ansi(lowest.substr(0, 1)).size() < lowestAnsi.size()) {
        const size_t before = 259 - lowestAnsi.size();
        cases.push_back({"the lowest pair ending at byte 260 goes whole", std::u16string(260 - lowestAnsi.size(), u'a') + lowest,
                         std::string(260 - lowestAnsi.size(), 'a'), true});
        cases.push_back({"a surrogate pair before a cut letter stays whole", std::u16string(before, u'a') + lowest + u"b",
                         std::string(before, 'a') + lowestAnsi, true});
    }
    return cases;
}

}  // namespace

TEST(AnsiHeader, NamesAreCutOnCharacterBoundariesInsideTheirFields) {
    const std::vector<Case> cases = NameCases();
    // Set where the build runs this test again in a double-byte code page.
    if (std::getenv("MORVANE_MULTIBYTE_ANSI")) {
        EXPECT_TRUE(std::any_of(cases.begin(), cases.end(), [](const Case& c) { return c.multiByte; }))
            << "this process's ANSI code page has one byte per character";
    }
    for (const Case& c : cases) {
        for (const bool arcName : {false, true}) {
            tHeaderDataExW wide{};
            SetWide(arcName ? wide.ArcName : wide.FileName, c.name);
            tHeaderData ansi;
            std::memset(&ansi, 0x7F, sizeof ansi);
            CopyToAnsiHeader(wide, ansi);
            const char* field = arcName ? ansi.ArcName : ansi.FileName;
            const size_t length = strnlen(field, PK_NAME_ANSI);
            ASSERT_LT(length, size_t(PK_NAME_ANSI)) << c.what << (arcName ? " (ArcName)" : " (FileName)");
            EXPECT_EQ(std::string(field, length), c.expected) << c.what << (arcName ? " (ArcName)" : " (FileName)");
            // Nothing past the terminator is written: the host's bytes stay.
            EXPECT_EQ(std::string(field + length + 1, PK_NAME_ANSI - length - 1),
                      std::string(PK_NAME_ANSI - length - 1, '\x7F'))
                << c.what << (arcName ? " (ArcName)" : " (FileName)");
            EXPECT_EQ(ansi.Flags, 0x7F7F7F7F) << c.what << ": the field after FileName was written";
        }
    }
}

TEST(AnsiHeader, NumbersAreCopiedLowHalvesOnly) {
    tHeaderDataExW wide{};
    wide.PackSize = 0x40000000u;
    wide.PackSizeHigh = 1;
    wide.UnpSize = 0x80000001u;
    wide.UnpSizeHigh = 2;
    wide.FileCRC = 0;
    wide.FileTime = 0x58B16DAF;
    wide.FileAttr = 0x21;
    wide.Flags = 5;
    wide.HostOS = 6;
    wide.UnpVer = 7;
    wide.Method = 8;
    tHeaderData ansi;
    std::memset(&ansi, 0x11, sizeof ansi);
    CopyToAnsiHeader(wide, ansi);
    EXPECT_EQ(uint32_t(ansi.PackSize), 0x40000000u);
    EXPECT_EQ(uint32_t(ansi.UnpSize), 0x80000001u);
    EXPECT_EQ(ansi.FileCRC, 0);
    EXPECT_EQ(ansi.FileTime, 0x58B16DAF);
    EXPECT_EQ(ansi.FileAttr, 0x21);
    // What the ANSI record does not take from the wide one keeps the host's bytes.
    EXPECT_EQ(ansi.Flags, 0x11111111);
    EXPECT_EQ(ansi.HostOS, 0x11111111);
    EXPECT_EQ(ansi.UnpVer, 0x11111111);
    EXPECT_EQ(ansi.Method, 0x11111111);
}

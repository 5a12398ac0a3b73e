// Entry names and the settings text: what reaches Morvane, and which settings are refused.
#include <gtest/gtest.h>

#include "EntryNames.h"
#include "ModuleSettings.h"
#include "VolumeNames.h"
#include "text/Utf8.h"

using namespace formats;

TEST(EntryNames, NeutralNamesNeverLeaveTheTarget) {
    struct Case {
        std::u16string stored;
        std::u16string shown;  // with '\' as the separator
    };
    const std::vector<Case> cases = {
        {u"dir/file.txt", u"dir\\file.txt"},
        {u"./dir/./file", u"dir\\file"},
        {u"dir/", u"dir"},
        {u"a//b", u"a\\b"},
        {u"/etc/passwd", u"etc\\passwd"},
        {u"//server/share/x", u"server\\share\\x"},
        {u"C:/Windows/x", u"Windows\\x"},
        {u"c:x", u"x"},
        {u"Z:/x", u"x"},
        {u"a:x", u"x"},
        {u"C:D:x", u"x"},
        {u"x/C:y", u"x\\C:y"},
        {u"/C:/x", u"x"},
        {u"C:\\..\\D:\\x", u"x"},
        {u"../d:/x", u"x"},
        {u"../../evil.txt", u"evil.txt"},
        {u"a/../../b", u"a\\b"},
        {u"a\\..\\b", u"a\\b"},
        {u"..a/b..", u"..a\\b.."},
        {u"1:/x", u"1:\\x"},
        {u"./", u""},
        {u"..", u""},
        {u"C:", u""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(text::ToUtf8(NeutralName(c.stored, u'\\')), text::ToUtf8(c.shown)) << text::ToUtf8(c.stored);
        std::u16string slashes = c.shown;
        for (char16_t& unit : slashes)
            if (unit == u'\\') unit = u'/';
        // A backslash that is no separator in the result cannot occur: both kinds separate.
        EXPECT_EQ(text::ToUtf8(NeutralName(c.stored, u'/')), text::ToUtf8(slashes)) << text::ToUtf8(c.stored);
    }
}

TEST(EntryNames, ANameOfOnlyDotsAndSpacesIsKeptAsAWindowsName) {
    // Windows drops a name's last dots and spaces; elsewhere they stay.
    const std::vector<std::vector<std::u16string>> cases = {
        // stored, with '\\', with '/'
        {u"...", u"___", u"..."},
        {u"    ", u"____", u"    "},
        {u"a/ . /b ", u"a\\___\\b ", u"a/ . /b "},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(text::ToUtf8(NeutralName(c[0], u'\\')), text::ToUtf8(c[1])) << text::ToUtf8(c[0]);
        EXPECT_EQ(text::ToUtf8(NeutralName(c[0], u'/')), text::ToUtf8(c[2])) << text::ToUtf8(c[0]);
    }
}

TEST(VolumeNames, LaterVolumesAreNamedAfterTheFirst) {
    struct Case {
        std::u16string first;
        size_t number;
        std::u16string later;  // empty: no such volume
    };
    const std::vector<Case> cases = {
        {u"dir/set.part1.rar", 1, u"dir/set.part2.rar"},
        {u"set.part1.rar", 8, u"set.part9.rar"},
        {u"set.part1.rar", 9, u""},  // a tenth would be part10: a set that long starts with part01
        {u"set.part01.rar", 9, u"set.part10.rar"},
        {u"set.part001.rar", 998, u"set.part999.rar"},
        {u"C:\\a\\Set.PART0001.RAR", 2, u"C:\\a\\Set.PART0003.RAR"},
        {u"set.part2.rar", 1, u""},  // a later volume opens no set
        {u"set.part0.rar", 1, u""},
        {u"set.part10.rar", 1, u""},
        {u"set.rar", 1, u"set.r00"},
        {u"set.rar", 100, u"set.r99"},
        {u"set.rar", 101, u"set.s00"},
        {u"set.rar", 900, u"set.z99"},
        {u"set.rar", 901, u""},
        {u"SET.RAR", 102, u"SET.S01"},
        {u"set2.rar", 1, u"set2.r00"},
        {u"x.part.rar", 1, u"x.part.r00"},
        {u"dir.part1.rar/set.rar", 1, u"dir.part1.rar/set.r00"},
        {u"set.rar", 0, u""},
        {u".rar", 1, u""},
        {u"dir/.rar", 1, u""},
        {u"set.zip", 1, u""},
        {u"rar", 1, u""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(text::ToUtf8(LaterVolumeName(c.first, c.number)), text::ToUtf8(c.later)) << text::ToUtf8(c.first) << " " << c.number;
}

TEST(EntryNames, LongNamesAreCutAtACharacterBoundary) {
    EXPECT_EQ(NeutralName(std::u16string(1500, u'a')).size(), kLongestName);
    std::u16string pair = std::u16string(kLongestName - 1, u'a') + u"\U0001F600";  // ends across the limit
    EXPECT_EQ(NeutralName(pair), std::u16string(kLongestName - 1, u'a'));
    std::u16string fits = std::u16string(kLongestName - 2, u'a') + u"\U0001F600";
    EXPECT_EQ(NeutralName(fits), fits);
    EXPECT_EQ(CutAtCharacter(u"\U0001F600", 1), u"");
    EXPECT_EQ(CutAtCharacter(u"a\U00010000", 2), u"a");  // the first high surrogate, D800
}

TEST(EntryNames, BytesPassedThroughAsLatin1AreDecodedAsUtf8WhereTheyAreUtf8) {
    struct Case {
        std::u16string given;
        std::u16string expected;
    };
    const std::vector<Case> cases = {
        {u"K\u00C3\u00B6ln", u"K\u00F6ln"},                   // UTF-8 bytes of "Köln"
        {u"K\u00F6ln", u"K\u00F6ln"},                         // Latin-1 text that is no UTF-8
        {u"\u041F\u0440\u0438", u"\u041F\u0440\u0438"},       // already Unicode
        {u"plain.txt", u"plain.txt"},
        {u"\u00E6\u00F8\u00E5", u"\u00E6\u00F8\u00E5"},       // Latin-1 letters only
        {u"\u00C3\u0080\u00FF", u"\u00C3\u0080\u00FF"},       // one invalid byte spoils it all
    };
    for (const Case& c : cases) EXPECT_EQ(RedecodeAsUtf8(c.given), c.expected) << text::ToUtf8(c.given);
}

TEST(EntryNames, WideTextOfEitherWidth) {
    EXPECT_EQ(FromWide(L"a\u00E9\U0001F600"), u"a\u00E9\U0001F600");
    EXPECT_EQ(FromWide(L"\U0010FFFF"), u"\U0010FFFF");  // the last code point
    EXPECT_EQ(FromWide(nullptr), u"");
}

namespace {

// "k=v\0k=v\0\0" from "k=v|k=v".
std::u16string SettingsText(const std::string& items) {
    std::u16string result = text::FromUtf8(items);
    for (char16_t& c : result)
        if (c == u'|') c = 0;
    return result + u'\0' + u'\0';
}

}  // namespace

TEST(ModuleSettings, ParsedAndRefused) {
    struct Case {
        std::string text;
        bool accepted;
        std::vector<std::string> formats;  // empty: all
        std::vector<std::string> filters;  // empty: all
        uint32_t codePage;
        std::string charset;
        std::string options;
    };
    const std::vector<Case> cases = {
        {"", true, {}, {}, 65001, "UTF-8", ""},
        {"Other=1|Formats=zip;7zip;iso9660", true, {"zip", "7zip", "iso9660"}, {}, 65001, "UTF-8", ""},
        {"Formats= ZIP, tar ,zip", true, {"zip", "tar"}, {}, 65001, "UTF-8", ""},
        {"Formats=AR;Tar", true, {"ar", "tar"}, {}, 65001, "UTF-8", ""},
        {"Filters=gzip;xz", true, {}, {"gzip", "xz"}, 65001, "UTF-8", ""},
        {"CodePage=866", true, {}, {}, 866, "CP866", ""},
        {"CodePage=28595", true, {}, {}, 28595, "ISO-8859-5", ""},
        {"Charset=cp437", true, {}, {}, 437, "CP437", ""},
        {"Charset=ISO-8859-2", true, {}, {}, 28592, "ISO-8859-2", ""},
        {"Charset=koi8-r", true, {}, {}, 20866, "KOI8-R", ""},
        {"Options=iso9660:!joliet", true, {}, {}, 65001, "UTF-8", "iso9660:!joliet"},
        {"formats=raw", true, {}, {}, 65001, "UTF-8", ""},  // keys are case-sensitive
        {"Formats=zip;raw", false, {}, {}, 0, "", ""},
        {"Formats=mtree", false, {}, {}, 0, "", ""},
        {"Formats=", false, {}, {}, 0, "", ""},
        {"Formats=zip\xC3\xA9", false, {}, {}, 0, "", ""},
        {"Formats=\xC5\xBAip", false, {}, {}, 0, "", ""},  // U+017A is no "z"
        {"Format\xC5\xB3=zip", true, {}, {}, 65001, "UTF-8", ""},  // U+0173 is no "s"
        {"Filters=lzop", false, {}, {}, 0, "", ""},
        {"CodePage=abc", false, {}, {}, 0, "", ""},
        {"CodePage=0", false, {}, {}, 0, "", ""},
        {"CodePage=123456", false, {}, {}, 0, "", ""},
        {"Charset=klingon", false, {}, {}, 0, "", ""},
        {"Charset=ISO-8859-17", false, {}, {}, 0, "", ""},
        {"CodePage=866|Charset=CP437", false, {}, {}, 0, "", ""},
    };
    for (const Case& c : cases) {
        const std::u16string text = SettingsText(c.text);
        ModuleSettings settings;
        std::string problem;
        ASSERT_EQ(ParseSettings(text.c_str(), settings, problem), c.accepted) << c.text << ": " << problem;
        if (!c.accepted) {
            EXPECT_FALSE(problem.empty()) << c.text;
            continue;
        }
        EXPECT_EQ(settings.formats, c.formats.empty() ? KnownFormats() : c.formats) << c.text;
        EXPECT_EQ(settings.filters, c.filters.empty() ? KnownFilters() : c.filters) << c.text;
        EXPECT_EQ(settings.codePage, c.codePage) << c.text;
        EXPECT_EQ(settings.charset, c.charset) << c.text;
        EXPECT_EQ(settings.options, c.options) << c.text;
    }
    ModuleSettings settings;
    std::string problem;
    EXPECT_TRUE(ParseSettings(nullptr, settings, problem));
}

TEST(ModuleSettings, CharsetNamesAndCodePagesMeet) {
    for (const uint32_t codePage : {65001u, 866u, 437u, 1252u, 932u, 20866u, 28591u, 28605u})
        EXPECT_EQ(CodePageOfCharset(CharsetOfCodePage(codePage)), codePage) << codePage;
    EXPECT_EQ(CodePageOfCharset("windows-1251"), 1251u);
    EXPECT_EQ(CodePageOfCharset("IBM850"), 850u);
    EXPECT_EQ(CodePageOfCharset("utf8"), 65001u);
    EXPECT_EQ(CodePageOfCharset(""), 0u);
}

#include <gtest/gtest.h>

#include <vector>

#include "config/IniDocument.h"
#include "support/TestFiles.h"

using namespace testing_support;

namespace {

// Delivers fixed sections the way the platform's profile reads do, cut short when too small.
class FakeIniReader : public IniReader {
public:
    std::vector<std::pair<std::u16string, std::vector<std::u16string>>> sections;
    mutable std::vector<uint32_t> sectionBufferSizes;

    uint32_t ReadSectionNames(char16_t* buffer, uint32_t size) const override {
        std::vector<std::u16string> names;
        for (const auto& section : sections) names.push_back(section.first);
        return Deliver(names, buffer, size);
    }
    uint32_t ReadSection(const std::u16string& name, char16_t* buffer, uint32_t size) const override {
        sectionBufferSizes.push_back(size);
        for (const auto& section : sections)
            if (section.first == name) return Deliver(section.second, buffer, size);
        return 0;
    }

private:
    static uint32_t Deliver(const std::vector<std::u16string>& items, char16_t* buffer, uint32_t size) {
        std::u16string list;
        for (const auto& item : items) list += item + u'\0';
        if (list.empty()) return 0;
        if (list.size() + 1 > size) {
            list.resize(size - 2);
            std::copy(list.begin(), list.end(), buffer);
            buffer[size - 2] = buffer[size - 1] = u'\0';
            return size - 2;
        }
        std::copy(list.begin(), list.end(), buffer);
        buffer[list.size()] = u'\0';
        return uint32_t(list.size());
    }
};

IniDocument LoadLines(const std::vector<std::u16string>& lines) {
    FakeIniReader reader;
    reader.sections.push_back({u"S", lines});
    IniDocument document;
    document.Load(reader);
    return document;
}

}  // namespace

TEST(IniDocument, LineRules) {
    struct Case {
        const char* what;
        std::vector<std::u16string> lines;
        std::vector<IniSection::Pair> pairs;
    };
    const std::vector<Case> cases = {
        {"blanks and tabs before a key", {u"  key=value", u"\t\tk2=v"}, {{u"key", u"value"}, {u"k2", u"v"}}},
        {"blanks around = stay", {u"key = value"}, {{u"key ", u" value"}}},
        {"the first = splits", {u"a=b=c"}, {{u"a", u"b=c"}}},
        {"empty key", {u"=x"}, {{u"", u"x"}}},
        {"empty value", {u"k="}, {{u"k", u""}}},
        {"comments and lines without =", {u"\t;x=1", u";y=2", u"no sign", u"  ", u"z=3"}, {{u"z", u"3"}}},
        {"a repeated key keeps its place", {u"k=1", u"j=0", u"k=2"}, {{u"k", u"2"}, {u"j", u"0"}}},
        {"keys are case-sensitive", {u"Key=1", u"key=2"}, {{u"Key", u"1"}, {u"key", u"2"}}},
        {"trailing blanks of a value stay", {u"k=v  "}, {{u"k", u"v  "}}},
    };
    for (const Case& c : cases) {
        const IniDocument document = LoadLines(c.lines);
        const IniSection* section = document.FindSection(u"S");
        ASSERT_NE(section, nullptr) << c.what;
        EXPECT_EQ(section->Pairs(), c.pairs) << c.what;
    }
}

TEST(IniDocument, SectionNamesAreExact) {
    FakeIniReader reader;
    reader.sections = {{u"general", {u"a=1"}}, {u"General ", {u"b=2"}}, {u"Modules", {}}};
    IniDocument document;
    document.Load(reader);
    EXPECT_EQ(document.FindSection(u"General"), nullptr);
    ASSERT_NE(document.FindSection(u"general"), nullptr);
    ASSERT_NE(document.FindSection(u"General "), nullptr);
    const IniSection* modules = document.FindSection(u"Modules");
    ASSERT_NE(modules, nullptr);  // a section whose lines could not be read still exists
    EXPECT_TRUE(modules->Pairs().empty());
}

TEST(IniDocument, LargeSectionsAndNameListsLoadWhole) {
    FakeIniReader reader;
    std::vector<std::u16string> lines;
    for (int i = 0; i < 3000; ++i) lines.push_back(u"key" + U16(std::to_string(i)) + u"=value");
    for (int i = 0; i < 400; ++i) reader.sections.push_back({u"Section" + U16(std::to_string(i)), {u"k=v"}});
    reader.sections.push_back({u"Big", lines});
    IniDocument document;
    document.Load(reader);
    ASSERT_NE(document.FindSection(u"Section399"), nullptr);
    const IniSection* big = document.FindSection(u"Big");
    ASSERT_NE(big, nullptr);
    ASSERT_EQ(big->Pairs().size(), 3000u);
    EXPECT_EQ(big->Pairs().back(), IniSection::Pair(u"key2999", u"value"));
}

TEST(IniSection, GetIntConvertsLikeWcstol) {
    struct Case {
        std::u16string value;
        int32_t expected;
    };
    const std::vector<Case> cases = {
        {u"12abc", 12},
        {u"abc", 0},
        {u"", 0},
        {u"  ", 0},
        {u"-", 0},
        {u"+", 0},
        {u"0", 0},
        {u" 1", 1},
        {u"109", 109},
        {u"-7", -7},
        {u"+3x", 3},
        {u"\t42", 42},
        {u"\n\v\f\r 9", 9},  // every space that wcstol skips
        {u"\v8", 8},
        {u"\f6", 6},
        {u"\u00A05", 0},       // a no-break space is no space to it
        {u"- 5", 0},  // the sign must touch the digits
        {u"2147483647", INT32_MAX},
        {u"2147483648", INT32_MAX},
        {u"4294967296", INT32_MAX},  // would wrap to 0
        {u"99999999999", INT32_MAX},
        {u"123456789012345678901234567890", INT32_MAX},  // more digits than 64 bits hold
        {u"-2147483648", INT32_MIN},
        {u"-2147483649", INT32_MIN},
        {u"-4294967296", INT32_MIN},  // would wrap to 0
        {u"-123456789012345678901234567890", INT32_MIN},
    };
    for (const Case& c : cases) {
        IniSection section(u"S");
        section.Set(u"k", c.value);
        int32_t out = 555;
        EXPECT_TRUE(section.GetInt(u"k", out)) << Utf8(c.value);
        EXPECT_EQ(out, c.expected) << Utf8(c.value);
    }
    IniSection section(u"S");
    int32_t preset = 1;
    EXPECT_FALSE(section.GetInt(u"absent", preset));
    EXPECT_EQ(preset, 1);
}

TEST(IniSection, GetStringAndFlatten) {
    IniSection section(u"S");
    EXPECT_EQ(section.Flatten(), std::u16string(1, u'\0'));
    std::u16string out = u"unchanged";
    EXPECT_FALSE(section.GetString(u"b", out));
    EXPECT_EQ(out, u"unchanged");
    section.Set(u"a", u"1");
    section.Set(u"b", u"");
    EXPECT_TRUE(section.GetString(u"b", out));
    EXPECT_EQ(out, u"");
    EXPECT_EQ(section.Flatten(), std::u16string(u"a=1\0b=\0\0", 8));
}

// The real profile reads on a real file: nothing of a large file is lost.
TEST(IniDocument, LargeFileOnDiskLoadsWhole) {
    TempFolder folder;
    std::string text = "[General]\r\nVerboseModuleLoad=1\r\n";
    for (int s = 0; s < 200; ++s) text += "[Padding" + std::to_string(s) + "]\r\nfiller=" + std::string(200, 'x') + "\r\n";
    text += "[Big]\r\n";
    for (int i = 0; i < 1500; ++i) text += "key" + std::to_string(i) + "=value" + std::to_string(i) + "\r\n";
    ASSERT_GT(text.size(), 64u * 1024u);
    const fs::path file = folder.Path() / "large.ini";
    WriteFile(file, text);

    IniDocument document;
    document.Load(file.u16string());
    const IniSection* big = document.FindSection(u"Big");
    ASSERT_NE(big, nullptr);
    ASSERT_EQ(big->Pairs().size(), 1500u);
    std::u16string value;
    EXPECT_TRUE(big->GetString(u"key1499", value));
    EXPECT_EQ(value, u"value1499");
    EXPECT_NE(document.FindSection(u"Padding199"), nullptr);
    int32_t verbose = 0;
    EXPECT_TRUE(document.FindSection(u"General")->GetInt(u"VerboseModuleLoad", verbose));
    EXPECT_EQ(verbose, 1);
}

TEST(IniDocument, MissingFileGivesEmptyDocument) {
    TempFolder folder;
    IniDocument document;
    document.Load((folder.Path() / "absent.ini").u16string());
    EXPECT_EQ(document.FindSection(u"General"), nullptr);
}

#include <gtest/gtest.h>

#include "modules/ModuleRecord.h"
#include "support/TestFiles.h"

TEST(ModuleRecord, AddMasksCutsAtSemicolons) {
    struct Case {
        const char16_t* list;
        std::vector<std::u16string> masks;
    };
    const std::vector<Case> cases = {
        {u";*.iso;;*.img;", {u"*.iso", u"*.img"}},
        {u"*.iso; *.img", {u"*.iso", u" *.img"}},
        {u" *.img ", {u" *.img "}},
        {u"*;a", {u"*", u"a"}},
        {u";;;", {}},
        {u"", {}},
        {nullptr, {}},
    };
    for (const Case& c : cases) {
        ModuleRecord record(u"m", u"m.dll");
        record.AddMasks(c.list);
        EXPECT_EQ(record.masks, c.masks) << (c.list ? testing_support::Utf8(c.list) : "null");
    }
}

TEST(ModuleRecord, MatchesMasksIgnoresCaseAndWithoutMasksMatchesAll) {
    ModuleRecord none(u"m", u"m.dll");
    EXPECT_TRUE(none.MatchesMasks(u"C:\\any\\file.xyz"));

    ModuleRecord record(u"m", u"m.dll");
    record.AddMasks(u"*.iso;*.img");
    struct Case {
        std::u16string path;
        bool matches;
    };
    const std::vector<Case> cases = {{u"C:\\a\\disk.iso", true},  {u"C:\\a\\DISK.ISO", true},
                                     {u"C:\\a\\disk.img", true},  {u"C:\\a\\disk.zip", false},
                                     {u"C:\\a\\disk.iso.bak", false}};
    for (const Case& c : cases) EXPECT_EQ(record.MatchesMasks(c.path), c.matches) << testing_support::Utf8(c.path);
}

#include <gtest/gtest.h>

#include "archive/NameCountMap.h"
#include "support/TestFiles.h"

using testing_support::U16;

TEST(NameCountMap, RepeatedNamesAreNumberedBeforeTheLastDot) {
    struct Case {
        std::vector<std::u16string> listed;
        std::vector<std::u16string> shown;
    };
    const std::vector<Case> cases = {
        {{u"report.txt", u"report.txt", u"report.txt"}, {u"report.txt", u"report,1.txt", u"report,2.txt"}},
        {{u"README", u"README"}, {u"README", u"README,1"}},
        {{u"a.b.c", u"a.b.c"}, {u"a.b.c", u"a.b,1.c"}},
        {{u"Docs.old\\Guide", u"Docs.old\\Guide"}, {u"Docs.old\\Guide", u"Docs,1.old\\Guide"}},
        {{u".profile", u".profile"}, {u".profile", u",1.profile"}},
        {{u"", u""}, {u"", u",1"}},
        {{u"Readme.txt", u"README.TXT"}, {u"Readme.txt", u"README.TXT"}},
        {{u"x.txt", u"x,1.txt", u"x.txt"}, {u"x.txt", u"x,1.txt", u"x,1.txt"}},
    };
    for (const Case& c : cases) {
        NameCountMap counts;
        std::vector<std::u16string> shown;
        for (const auto& name : c.listed) shown.push_back(counts.Number(name));
        EXPECT_EQ(shown, c.shown) << testing_support::Utf8(c.listed[0]);
    }
}

TEST(NameCountMap, CountsGrowPastNine) {
    NameCountMap counts;
    std::u16string last;
    for (int i = 0; i < 12; ++i) last = counts.Number(u"a.bin");
    EXPECT_EQ(last, U16("a,11.bin"));
}

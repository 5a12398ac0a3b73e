#include <gtest/gtest.h>

#include <cstdio>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "archive/NameCountMap.h"
#include "archive/NameScan.h"
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

// Enough names to grow the table many times and to fill several blocks of stored names; each
// name's repetition must still be found, and prefixes of a name are names of their own.
TEST(NameCountMap, ManyNamesAreEachNumberedOnTheirOwn) {
    NameCountMap counts;
    auto name = [](int i) { return U16("folder" + std::to_string(i % 97) + "/" + std::to_string(i) + ".dat"); };
    constexpr int kNames = 40000;
    for (int i = 0; i < kNames; ++i) ASSERT_EQ(counts.Number(name(i)), name(i)) << i;
    for (int i = kNames - 1; i >= 0; i -= 7) {
        const std::u16string shown = counts.Number(name(i));
        ASSERT_EQ(shown, U16("folder" + std::to_string(i % 97) + "/" + std::to_string(i) + ",1.dat")) << i;
    }
    EXPECT_EQ(counts.Number(u"folder5/5.da"), u"folder5/5.da");
    EXPECT_EQ(counts.Number(u"folder5/5.dat\u0100"), u"folder5/5.dat\u0100");
    EXPECT_EQ(counts.Count(u"folder5/5.dat", 13), 1u);  // in the first round only
    EXPECT_EQ(counts.Count(u"folder5/5.dat", 12), 1u);  // "folder5/5.da", numbered above
}

// The count is kept in two halves: it carries past 65,535.
TEST(NameCountMap, CountsCarryPastSixteenBits) {
    NameCountMap counts;
    uint32_t last = 0;
    for (int i = 0; i < 70001; ++i) last = counts.Count(u"x", 1);
    EXPECT_EQ(last, 70000u);
    EXPECT_EQ(counts.Number(u"x"), u"x,70001");
}

// Names are kept in 64 KiB blocks behind three units of their own: a name that fills a block
// whole is kept, a longer one is refused, and the map goes on as before.
TEST(NameCountMap, ANameTooLongToKeepIsRefused) {
    NameCountMap counts;
    EXPECT_EQ(counts.Count(u"a", 1), 0u);
    const std::u16string tooLong(32766, u'n');
    EXPECT_THROW(counts.Count(tooLong.data(), tooLong.size()), std::bad_alloc);
    EXPECT_EQ(counts.Count(u"a", 1), 1u);
    const std::u16string longest(32765, u'n');
    EXPECT_EQ(counts.Count(longest.data(), longest.size()), 0u);
    EXPECT_EQ(counts.Count(u"b", 1), 0u);
    EXPECT_EQ(counts.Count(longest.data(), longest.size()), 1u);
    EXPECT_EQ(counts.Count(u"a", 1), 2u);
    EXPECT_EQ(counts.Count(u"b", 1), 1u);
}

// Two names of one length that share a hash are still two names: the map compares the names
// themselves. The pair is found by search, as 32-bit hashes of a few hundred thousand names repeat.
TEST(NameCountMap, NamesThatShareAHashAreToldApart) {
    std::unordered_map<uint32_t, std::u16string> seen;
    std::u16string first, second;
    for (uint32_t i = 0; second.empty() && i < 2000000; ++i) {
        char digits[16];
        std::snprintf(digits, sizeof digits, "n%08u", i);
        const std::u16string name = U16(digits);
        const auto [at, inserted] = seen.emplace(NameHash(name.data(), name.size()), name);
        if (!inserted) first = at->second, second = name;
    }
    ASSERT_FALSE(second.empty()) << "no two names share a hash";
    NameCountMap counts;
    EXPECT_EQ(counts.Number(first), first);
    EXPECT_EQ(counts.Number(second), second);
    EXPECT_EQ(counts.Number(second), U16(testing_support::Utf8(second) + ",1"));
    EXPECT_EQ(counts.Number(first), U16(testing_support::Utf8(first) + ",1"));
}

// Where an entry is extracted to, and the names that would leave the destination.
#include <gtest/gtest.h>

#include "Commands.h"
#include "HostPlatform.h"

using namespace wcxhost;

namespace {

TEST(WcxhostTargets, PutsEveryEntryBelowTheDestinationOrRefusesIt) {
    const std::u16string s(1, platform::kSeparator);
    const struct {
        std::u16string destination, name;
        bool below;
        std::u16string target;
    } cases[] = {
        {u"D", u"a.txt", true, u"D" + s + u"a.txt"},
        {u"D/", u"a/b\\c.txt", true, u"D/a" + s + u"b" + s + u"c.txt"},
        {u"D\\", u"./x//y/.", true, u"D\\x" + s + u"y"},
        {u"D", u"a..b/..c", true, u"D" + s + u"a..b" + s + u"..c"},
        {u"", u"a", true, s + u"a"},
        {u"D", u"../a", false, u""},
        {u"D", u"a/../../b", false, u""},
        {u"D", u"a\\..", false, u""},
        {u"D", u"/etc/passwd", false, u""},
        {u"D", u"\\x", false, u""},
        {u"D", u"C:x", false, u""},
        {u"D", u"", false, u""},
        {u"D", u"./.", false, u""},
    };
    for (const auto& c : cases) {
        std::u16string target;
        EXPECT_EQ(TargetBelow(c.destination, c.name, target), c.below);
        if (c.below) {
            EXPECT_EQ(target, c.target);
        }
    }
}

}  // namespace

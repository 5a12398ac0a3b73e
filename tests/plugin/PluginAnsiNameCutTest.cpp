// ReadHeader cuts names that do not fit the ANSI record's 260 bytes: never in the middle of a
// surrogate pair, whose first half alone would turn into a replacement character.
#include <gtest/gtest.h>

#include "support/Containers.h"
#include "support/PluginUnderTest.h"

using namespace testing_support;

namespace {

TEST(PluginAnsiNameCut, NeverLeavesHalfASurrogatePair) {
    ModuleFolder folder;
    folder.AddModule("m");
    folder.WriteIni(PluginUnderTest::IniName(), "[Modules]\nm=m" TESTMODULE_SUFFIX "\n");
    PluginUnderTest plugin(folder);
    const std::string face = "\xF0\x9F\x98\x80";   // U+1F600: D83D DE00
    const std::string first = "\xF0\x90\x80\x80";  // U+10000: D800 DC00, the lowest pair
    struct Case {
        std::string name;
        std::string shown;
    };
    const Case cases[] = {
        {std::string(258, 'a') + face, std::string(258, 'a')},  // the pair straddles the 259th unit
        {std::string(258, 'c') + first, std::string(258, 'c')},
        {std::string(259, 'a') + face, std::string(259, 'a')},
        {std::string(300, 'b'), std::string(259, 'b')},
    };
    for (const Case& c : cases) {
        const std::u16string path =
            WriteContainer(folder.folder.Path() / "names.bin", "open\tm\t1\nentry\tname=" + c.name + "\n");
        PK_HANDLE handle = plugin.Open(path);
        ASSERT_NE(handle, nullptr);
        tHeaderData header{};
        EXPECT_EQ(plugin.ReadHeader(handle, &header), 0);
        EXPECT_EQ(std::string(header.FileName), c.shown) << c.name.size();
        plugin.CloseArchive(handle);
    }
}

}  // namespace

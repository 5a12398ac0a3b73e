// Reading Morvane's [Modules] section as the plug-in does, and what wcxhost says when none loaded.
#include <gtest/gtest.h>

#include "HostPlatform.h"
#include "ModuleCheck.h"

using namespace wcxhost;

namespace {

TEST(WcxhostModuleCheck, FindsTheModulesSectionInEveryEncoding) {
    const struct {
        const char* what;
        std::string bytes;
        std::vector<std::pair<std::u16string, std::u16string>> modules;
    } cases[] = {
        {"plain", "[Modules]\r\ntar=x64\\tar.dll\r\n", {{u"tar", u"x64\\tar.dll"}}},
        {"comments, blanks and other sections",
         "; top\n[General]\nVerboseModuleLoad=1\n[Modules]\n; tar first\n tar = tar.dll \n\niso=modules\\iso.dll\n"
         "[Filters]\ntar=*.tar\n",
         {{u"tar", u"tar.dll"}, {u"iso", u"modules\\iso.dll"}}},
        {"a comment that holds a key", "[Modules]\n;old=old.dll\n  ; tar=x.dll\ntar=tar.dll\n", {{u"tar", u"tar.dll"}}},
        {"UTF-16 LE cut after an odd byte", std::string("\xFF\xFE[\0M\0o\0d\0u\0l\0e\0s\0]\0\n\0t\0=\0t\0x", 29),
         {{u"t", u"t"}}},
        {"section names are exact", "[modules]\ntar=tar.dll\n[Modules ]\nzip=zip.dll\n", {}},
        {"lines without a key", "[Modules]\n=x.dll\nnonsense\ntar=tar.dll", {{u"tar", u"tar.dll"}}},
        {"a repeated key keeps its place, the last value wins", "[Modules]\na=1.dll\nb=2.dll\na=3.dll\n",
         {{u"a", u"3.dll"}, {u"b", u"2.dll"}}},
        {"UTF-8 with its mark", "\xEF\xBB\xBF[Modules]\nf\xC3\xBC=f\xC3\xBC.dll\n", {{u"f\u00FC", u"f\u00FC.dll"}}},
        {"UTF-16 LE with its mark", std::string("\xFF\xFE[\0M\0o\0d\0u\0l\0e\0s\0]\0\n\0t\0=\0t\0.\0d\0l\0l\0", 36),
         {{u"t", u"t.dll"}}},
        {"empty", "", {}},
    };
    for (const auto& c : cases) {
        const std::vector<NamedModule> modules = ModulesNamedIn(c.bytes);
        ASSERT_EQ(modules.size(), c.modules.size()) << c.what;
        for (size_t i = 0; i < modules.size(); ++i) {
            EXPECT_EQ(modules[i].name, c.modules[i].first) << c.what;
            EXPECT_EQ(modules[i].file, c.modules[i].second) << c.what;
        }
    }
}

TEST(WcxhostModuleCheck, SaysWhyNoModuleLoadedAndNamesThoseThatDidNot) {
    const std::string ini = "check " + std::string(platform::kMorvaneIniName[7] == u'6' ? "morvane64.ini" : "morvane.ini");
    ModuleCheck check;
    EXPECT_EQ(check.NoModuleMessage(), "");  // not a Morvane plug-in: nothing to say

    check.applies = true;
    check.iniPath = u"D/morvane.ini";
    EXPECT_EQ(check.NoModuleMessage(), "no sub-module loaded: " + ini + " beside the plug-in (there is no D/morvane.ini)");
    check.iniFound = true;
    EXPECT_EQ(check.NoModuleMessage(),
              "no sub-module loaded: " + ini + " beside the plug-in (its [Modules] section names no module)");
    check.modules = {{u"tar", u"x64\\tar.dll", false}, {u"iso", u"iso.dll", false}};
    EXPECT_EQ(check.NoModuleMessage(), "no sub-module loaded: " + ini +
                                           " beside the plug-in (none of the modules it names was loaded: "
                                           "tar=x64\\tar.dll, iso=iso.dll)");
    check.modules[0].loaded = true;
    EXPECT_EQ(check.Loaded(), 1u);
    EXPECT_EQ(check.NoModuleMessage(), "");
    EXPECT_EQ(check.NotLoaded(), "iso=iso.dll");
    check.modules[1].loaded = true;
    EXPECT_EQ(check.NotLoaded(), "");
}

}  // namespace

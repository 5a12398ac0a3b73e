// Extraction into long targets on Windows: a new tree whose folders cross the lengths where the
// plain form stops working, targets with "." and ".." in them, and network paths.
#if defined(_WIN32)
#include <gtest/gtest.h>

#include <cstdlib>

#include "support/Containers.h"
#include "support/PluginUnderTest.h"

using namespace testing_support;

namespace {

// prefix followed by 20-character folder names until the text is exactly length long.
std::u16string Padded(const std::u16string& prefix, size_t length) {
    std::u16string path = prefix;
    while (path.size() < length) path += path.size() % 20 == 0 ? u'\\' : u'p';
    if (path.back() == u'\\') path.back() = u'q';
    return path;
}

// A network share that Wine serves from a folder of its prefix ("dosdevices\unc\<server>\<share>").
class WineShare {
public:
    WineShare() {
        const char* prefix = std::getenv("WINEPREFIX");
        if (!prefix || !*prefix) return;
        server_ = (fs::path(std::string("Z:") + prefix) / "dosdevices" / "unc" / "morvane-reliability").make_preferred();
        std::error_code error;
        fs::create_directories(server_ / "share", error);
        if (error) server_.clear();
    }
    ~WineShare() {
        std::error_code ignored;
        if (!server_.empty()) fs::remove_all(server_, ignored);
    }
    bool Available() const { return !server_.empty(); }
    // The share's folder as a local path, and as the network path that names it.
    fs::path Local() const { return server_ / "share"; }
    std::u16string Network() const { return u"\\\\morvane-reliability\\share\\"; }

private:
    fs::path server_;
};

TEST(PluginLongPath, ExtractsIntoLongNewTrees) {
    ModuleFolder folder;
    folder.AddModule("m");
    folder.WriteIni(PluginUnderTest::IniName(), "[Modules]\nm=m" TESTMODULE_SUFFIX "\n");
    PluginUnderTest plugin(folder);
    const std::u16string archive =
        WriteContainer(folder.folder.Path() / "a.bin", "open\tm\t1\nentry\tname=f.txt\tcontent=long way down\n");
    const TempFolder target;
    const std::u16string base = target.Directory();
    WineShare share;

    struct Case {
        const char* what;
        std::u16string destPath;
        std::u16string written;  // where the file must land, without the name
    };
    std::vector<Case> cases = {
        {"folders crossing 248..259", Padded(base + u"band", 275), Padded(base + u"band", 275)},
        {"dots in a long target", base + u"x\\.\\y\\..\\..\\" + Padded(u"dots", 280),
         base + Padded(u"dots", 280)},
    };
    if (share.Available()) {
        const std::u16string network = Padded(share.Network() + u"net", 290);
        cases.push_back({"network path", network, share.Local().u16string() + u"\\" + network.substr(share.Network().size())});
    }
    for (Case& c : cases) {
        PK_HANDLE handle = plugin.Open(archive);
        ASSERT_NE(handle, nullptr) << c.what;
        int end = -1;
        plugin.NextHeader(handle, &end);
        ASSERT_EQ(end, 0) << c.what;
        std::u16string name = u"f.txt";
        EXPECT_EQ(plugin.ProcessFileW(handle, PK_EXTRACT, W(c.destPath), W(name)), 0) << c.what;
        plugin.CloseArchive(handle);
        EXPECT_EQ(ReadFile(fs::path(u"\\\\?\\" + c.written + u"\\f.txt")), "long way down") << c.what;
    }
}

}  // namespace
#endif

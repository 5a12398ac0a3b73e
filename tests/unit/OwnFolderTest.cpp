// When the plug-in cannot tell its own folder, it reads no configuration at all, rather than
// the INI file of whatever folder an empty or root path would name.
#include <gtest/gtest.h>

#include <memory>

#include "plugin/PluginLifetime.h"
#include "plugin/PluginState.h"
#include "platform/Platform.h"
#include "support/PluginUnderTest.h"
#include "support/TestFiles.h"

using namespace testing_support;

namespace {

// Puts an INI file where a plug-in with an unknown folder could look for one: the current
// folder, and on Windows the root of the current drive ("\" + name).
class StrayConfiguration {
public:
    StrayConfiguration() : previous_(fs::current_path()) {
        const std::string text = "[General]\nUseExtensionFilters=7\n[Modules]\nm=missing.dll\n";
        WriteFile(folder_.Path() / PluginUnderTest::IniName(), text);
        fs::current_path(folder_.Path());
#if defined(_WIN32)
        const fs::path root = folder_.Path().root_path() / PluginUnderTest::IniName();
        if (!fs::exists(root)) {
            WriteFile(root, text);
            if (fs::exists(root)) root_ = root;
        }
#endif
    }
    ~StrayConfiguration() {
        fs::current_path(previous_);
        std::error_code ignored;
        if (!root_.empty()) fs::remove(root_, ignored);
    }

private:
    TempFolder folder_;
    fs::path previous_;
    fs::path root_;
};

TEST(OwnFolder, AnUnknownFolderGivesNoConfiguration) {
    StrayConfiguration stray;
    const auto notAModule = std::make_unique<int>(0);  // a heap address: no library lies there
    EXPECT_EQ(platform::ModuleDirectory(notAModule.get()), u"");

    Plugin().useExtensionFilters = 1;
    OnProcessAttach(notAModule.get());
    EXPECT_EQ(Plugin().useExtensionFilters, 1);
    EXPECT_EQ(Plugin().registry.Size(), 0u);
    OnProcessDetach();
    Plugin().pluginInstance = nullptr;
}

}  // namespace

// Loading and unloading the real plug-in library: its INI file, its sub-modules, its report.
#include <gtest/gtest.h>

#include "support/PluginUnderTest.h"

#if defined(_WIN32)
#include "support/WindowDriver.h"
#else
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#endif

using namespace testing_support;

namespace {

const std::string S = TESTMODULE_SUFFIX;

}  // namespace

// A module that faults in UnloadSubModule is released all the same, and the next ones unload.
TEST(PluginLifetime, LoadsModulesInOrderAndUnloadsEachOnceAtDetach) {
    for (const std::string fault : {"", "access", "divide", "illegal"}) {
        ModuleFolder folder;
        for (const char* name : {"b", "a", "c"}) folder.AddModule(name);
        const std::string log = folder.LogSetting() + "\n";
        const std::string faults = fault.empty() ? "" : "FaultIn=UnloadSubModule\nFaultKind=" + fault + "\n";
        folder.WriteIni(PluginUnderTest::IniName(), "[Modules]\nb=b" + S + "\na=a" + S + "\nc=c" + S + "\n[a]\n" +
                                                        log + "a=1\nb=2\n[b]\n" + log + faults + "[c]\n" + log);
        {
            FaultingModuleLeaksIgnored leaks;
            PluginUnderTest plugin(folder);
            EXPECT_EQ(plugin.GetPackerCaps(), 68);
            EXPECT_EQ(plugin.GetBackgroundFlags(), 1);
            const auto lines = ReadLog(folder.LogPath());
            ASSERT_EQ(lines.size(), 3u);
            EXPECT_EQ(lines[1][0], "a");
            EXPECT_EQ(Field(lines[1], "settings"), folder.LogSetting() + "\\0a=1\\0b=2\\0\\0");
            EXPECT_TRUE(LibraryLoaded(folder.folder.Path() / ("b" + S))) << fault;
        }
        const std::vector<std::string> expected = {"b LoadSubModule",   "a LoadSubModule",   "c LoadSubModule",
                                                   "b UnloadSubModule", "a UnloadSubModule", "c UnloadSubModule"};
        EXPECT_EQ(LoggedCalls(folder.LogPath()), expected) << fault;
        for (const char* name : {"b", "a", "c"}) EXPECT_FALSE(LibraryLoaded(folder.folder.Path() / (name + S))) << fault;
    }
}

TEST(PluginLifetime, WithoutIniFileNothingIsClaimed) {
    ModuleFolder folder;
    folder.AddModule("a");
    PluginUnderTest plugin(folder);
    WriteFile(folder.folder.Path() / "c.txt", "MORVANE-TEST-CONTAINER\nopen\t*\t1\n");
    int result = 0;
    EXPECT_EQ(plugin.Open((folder.folder.Path() / "c.txt").u16string(), &result), nullptr);
    EXPECT_EQ(result, E_NOT_SUPPORTED);
    EXPECT_EQ(plugin.Probe((folder.folder.Path() / "c.txt").u16string()), 0);
}

TEST(PluginLifetime, ExtensionFilterSwitch) {
    struct Case {
        const char* general;
        bool filtering;
    };
    const std::vector<Case> cases = {{"", true},
                                     {"UseExtensionFilters=1", true},
                                     {"UseExtensionFilters=1abc", true},
                                     {"UseExtensionFilters= 1", true},
                                     {"UseExtensionFilters=0", false},
                                     {"UseExtensionFilters=2", false},
                                     {"UseExtensionFilters=abc", false},
                                     {"UseExtensionFilters=-1", false},
                                     {"UseExtensionFilters=4294967297", false}};  // clamped, not wrapped to 1
    for (const Case& c : cases) {
        ModuleFolder folder;
        folder.AddModule("iso");
        folder.WriteIni(PluginUnderTest::IniName(), std::string("[General]\n") + c.general +
                                                        "\n[Modules]\niso=iso" + S + "\n[Filters]\niso=*.iso\n");
        WriteFile(folder.folder.Path() / "disk.img", "MORVANE-TEST-CONTAINER\nopen\t*\t1\n");
        PluginUnderTest plugin(folder);
        EXPECT_EQ(plugin.Probe((folder.folder.Path() / "disk.img").u16string()), c.filtering ? 0 : 1) << c.general;
    }
}

#if defined(_WIN32)
TEST(PluginLifetime, FailureReportShowsFailuresInOrderWhenVerbose) {
    struct Case {
        const char* general;
        const char* modules;
        bool shown;
        std::u16string text;
    };
    const std::vector<Case> cases = {
        {"VerboseModuleLoad=1", "missing=missing.dll\nok=ok.dll\nold=old.dll\n", true,
         u"missing:Module not found.\r\nold:"},
        {"VerboseModuleLoad=-3", "old=old.dll\nnounload=nounload.dll\n", true, u"old:nounload:"},
        {"VerboseModuleLoad=1", "ok=ok.dll\n", false, u""},
        {"VerboseModuleLoad=0", "missing=missing.dll\n", false, u""},
        {"", "missing=missing.dll\n", false, u""},
    };
    for (const Case& c : cases) {
        ModuleFolder folder;
        folder.AddModule("ok");
        folder.AddModule("old");
        folder.AddModule("nounload", true);
        folder.WriteIni(PluginUnderTest::IniName(), std::string("[General]\n") + c.general + "\n[Modules]\n" +
                                                        c.modules + "[old]\nVersion=3\n");
        ReportBoxWatcher watcher;
        PluginUnderTest plugin(folder);
        std::u16string text;
        EXPECT_EQ(watcher.Finish(text), c.shown) << c.modules;
        EXPECT_EQ(text, c.text) << c.modules;
    }
}

// A fault is told the user once, in a message box, and only when the INI file asks for reports.
TEST(PluginLifetime, AFaultIsReportedOnceWhenVerbose) {
    for (const char* general : {"VerboseModuleLoad=1", "VerboseModuleLoad=0", ""}) {
        ModuleFolder folder;
        folder.AddModule("m");
        folder.WriteIni(PluginUnderTest::IniName(), std::string("[General]\n") + general + "\n[Modules]\nm=m.dll\n");
        const fs::path container = folder.folder.Path() / "faults.bin";
        WriteFile(container, "MORVANE-TEST-CONTAINER\nopen\tm\t1\nfault\tReadEntryProc\nentry\tname=f\n");
        const std::u16string start = u"m: ReadEntryProc faulted on " + container.u16string() + u"\n";
        ReportBoxWatcher watcher(L"Morvane: a module faulted");
        {
            PluginUnderTest plugin(folder);
            PK_HANDLE handle = plugin.Open(container.u16string());
            ASSERT_NE(handle, nullptr);
            for (int i = 0; i < 2; ++i) {
                int result = 0;
                plugin.NextHeader(handle, &result);
                EXPECT_EQ(result, E_BAD_ARCHIVE) << general;
            }
            plugin.CloseArchive(handle);
        }
        std::u16string text;
        const bool verbose = std::string(general) == "VerboseModuleLoad=1";
        EXPECT_EQ(watcher.Finish(text), verbose) << general;
        EXPECT_EQ(watcher.Shown(), verbose ? 1 : 0) << general;
        // The fault's own text follows: the system's, or Wine's fallback.
        EXPECT_EQ(text.substr(0, start.size()), verbose ? start : u"") << general;
        if (verbose) {
            EXPECT_GT(text.size(), start.size());
        }
    }
}
#endif

#if !defined(_WIN32)
// Linux has no message box: the report goes to the error stream, caption first.
TEST(PluginLifetime, FailureReportGoesToTheErrorStreamWhenVerbose) {
    struct Case {
        const char* general;
        const char* modules;
        std::string report;
    };
    const std::vector<Case> cases = {
        {"VerboseModuleLoad=1", "ok=ok.so\nold=old.so\nnounload=nounload.so\n",
         "Morvane failed modules:\nold:nounload:\n"},
        {"VerboseModuleLoad=-3", "old=old.so\n", "Morvane failed modules:\nold:\n"},
        {"VerboseModuleLoad=1", "ok=ok.so\n", ""},
        {"VerboseModuleLoad=0", "old=old.so\n", ""},
        {"", "old=old.so\n", ""},
    };
    for (const Case& c : cases) {
        ModuleFolder folder;
        folder.AddModule("ok");
        folder.AddModule("old");
        folder.AddModule("nounload", true);
        folder.WriteIni(PluginUnderTest::IniName(), std::string("[General]\n") + c.general + "\n[Modules]\n" +
                                                        c.modules + "[old]\nVersion=3\n");
        const fs::path captured = folder.folder.Path() / "stderr.txt";
        std::fflush(stderr);
        const int saved = dup(2);
        const int file = open(captured.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(file, 0);
        dup2(file, 2);
        close(file);
        {
            PluginUnderTest plugin(folder);
        }
        std::fflush(stderr);
        dup2(saved, 2);
        close(saved);
        EXPECT_EQ(ReadFile(captured), c.report) << c.general << " " << c.modules;
    }
}
#endif

// The password dialog and the password cache, with the real dialog driven by a test thread.
#if defined(_WIN32)
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "support/Containers.h"
#include "support/PluginUnderTest.h"
#include "support/WindowDriver.h"

using namespace testing_support;
using Answer = PasswordDialogDriver::Answer;

namespace {

class PluginPasswordTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder.AddModule("a");
        folder.AddModule("b");
        folder.WriteIni(PluginUnderTest::IniName(), "[Modules]\na=a.dll\nb=b.dll\n[a]\n" + folder.LogSetting() +
                                                        "\n[b]\n" + folder.LogSetting() + "\n");
        plugin = std::make_unique<PluginUnderTest>(folder);
    }
    std::u16string Protected(const std::string& name, const std::string& password, const std::string& more = "") {
        return WriteContainer(folder.folder.Path() / name, "open\ta\t1\npassword\t" + password + "\n" + more);
    }
    // Opens with a dialog driver answering as given; answers whether it opened and how many dialogs showed.
    bool OpenWith(const std::u16string& path, std::vector<Answer> answers, int& shown, bool probe = false) {
        PasswordDialogDriver driver(std::move(answers));
        bool opened;
        if (probe) {
            opened = plugin->Probe(path) == 1;
        } else {
            PK_HANDLE handle = plugin->Open(path);
            opened = handle != nullptr;
            plugin->CloseArchive(handle);
        }
        shown = driver.Shown();
        EXPECT_TRUE(driver.ControlsAsExpected());
        return opened;
    }
    std::vector<std::string> PasswordsOffered() const {
        std::vector<std::string> offered;
        for (const auto& line : CallsNamed(folder.LogPath(), "OpenProc")) offered.push_back(Field(line, "password"));
        return offered;
    }

    ModuleFolder folder;
    std::unique_ptr<PluginUnderTest> plugin;
};

}  // namespace

TEST_F(PluginPasswordTest, CancelFailsAndRemembersNothing) {
    const std::u16string path = Protected("c.bin", "secret");
    int shown = 0;
    EXPECT_FALSE(OpenWith(path, {Answer{"", true}}, shown));
    EXPECT_EQ(shown, 1);
    EXPECT_TRUE(OpenWith(path, {Answer{"secret"}}, shown));
    EXPECT_EQ(shown, 1);
}

TEST_F(PluginPasswordTest, RefusedPasswordsAskAgainAndOnlyTheAcceptedOneIsRemembered) {
    const std::u16string path = Protected("r.bin", "secret");
    int shown = 0;
    EXPECT_TRUE(OpenWith(path, {Answer{"w1"}, Answer{"w2"}, Answer{"w3"}, Answer{"secret"}}, shown));
    EXPECT_EQ(shown, 4);
    EXPECT_TRUE(OpenWith(path, {}, shown));
    EXPECT_EQ(shown, 0);
    const std::vector<std::string> expected = {"(null)", "w1", "w2", "w3", "secret", "(null)", "secret"};
    EXPECT_EQ(PasswordsOffered(), expected);
    // Only the asking module is offered the file again.
    for (const std::string& call : LoggedCalls(folder.LogPath())) EXPECT_NE(call, "b OpenProc");
}

TEST_F(PluginPasswordTest, KeysAreExactPaths) {
    const std::u16string path = Protected("case.bin", "pw");
    int shown = 0;
    EXPECT_TRUE(OpenWith(path, {Answer{"pw"}}, shown));
    std::u16string upper = path;
    upper.replace(upper.size() - 8, 8, u"CASE.BIN");
    EXPECT_TRUE(OpenWith(upper, {Answer{"pw"}}, shown));
    EXPECT_EQ(shown, 1);  // the same file under another spelling is asked for again
    EXPECT_TRUE(OpenWith(upper, {}, shown));
    EXPECT_EQ(shown, 0);
}

TEST_F(PluginPasswordTest, ProbeAsksRemembersAndClosesWithoutPreparing) {
    const std::u16string path = Protected("probe.bin", "pw");
    int shown = 0;
    EXPECT_TRUE(OpenWith(path, {Answer{"pw"}}, shown, true));
    EXPECT_EQ(shown, 1);
    EXPECT_TRUE(CallsNamed(folder.LogPath(), "PrepareProc").empty());
    EXPECT_EQ(CallsNamed(folder.LogPath(), "CloseProc").size(), 1u);
    EXPECT_TRUE(OpenWith(path, {}, shown));
    EXPECT_EQ(shown, 0);
    EXPECT_EQ(CallsNamed(folder.LogPath(), "PrepareProc").size(), 1u);
}

TEST_F(PluginPasswordTest, AcceptedPasswordStaysWhenPrepareRefuses) {
    const std::u16string path = Protected("prep.bin", "pw", "prepare\t0\n");
    int shown = 0;
    EXPECT_FALSE(OpenWith(path, {Answer{"pw"}}, shown));
    EXPECT_EQ(shown, 1);
    EXPECT_TRUE(OpenWith(path, {}, shown, true));
    EXPECT_EQ(shown, 0);
}

TEST_F(PluginPasswordTest, PasswordTexts) {
    struct Case {
        const char* what;
        std::string typed;
        std::string accepted;
    };
    const std::vector<Case> cases = {
        {"OK with an empty box passes an empty text", "", ""},
        {"a long password reaches the module cut to 99 bytes", std::string(150, 'p'), std::string(99, 'p')},
        {"blanks are part of it", " a b ", " a b "},
    };
    int counter = 0;
    for (const Case& c : cases) {
        const std::u16string path = Protected("t" + std::to_string(counter++), c.accepted);
        int shown = 0;
        EXPECT_TRUE(OpenWith(path, {Answer{c.typed}}, shown)) << c.what;
        EXPECT_EQ(PasswordsOffered().back(), c.accepted) << c.what;
        EXPECT_TRUE(OpenWith(path, {}, shown)) << c.what;  // and it is remembered
        EXPECT_EQ(shown, 0) << c.what;
    }
}

TEST_F(PluginPasswordTest, RefusalAfterPasswordOtherThanTwoFails) {
    const std::u16string path = Protected("zero.bin", "pw", "password-refused-answer\t0\n");
    int shown = 0;
    EXPECT_FALSE(OpenWith(path, {Answer{"wrong"}}, shown));
    EXPECT_EQ(shown, 1);
    EXPECT_TRUE(OpenWith(path, {Answer{"pw"}}, shown));
    EXPECT_EQ(shown, 1);  // the refused one was not remembered
    // The module at index 0 asked for the password: no other module is offered the file with it.
    const std::vector<std::string> expected = {"(null)", "wrong", "(null)", "pw"};
    EXPECT_EQ(PasswordsOffered(), expected);
    for (const std::string& call : LoggedCalls(folder.LogPath())) EXPECT_NE(call, "b OpenProc");
}

TEST_F(PluginPasswordTest, StaleRememberedPasswordIsReplacedByTheTypedOne) {
    const std::u16string path = Protected("stale.bin", "old");
    int shown = 0;
    EXPECT_TRUE(OpenWith(path, {Answer{"old"}}, shown));
    Protected("stale.bin", "new");  // the archive's password changed meanwhile
    EXPECT_TRUE(OpenWith(path, {Answer{"new"}}, shown));
    EXPECT_EQ(shown, 1);
    EXPECT_TRUE(OpenWith(path, {}, shown));
    EXPECT_EQ(shown, 0);
    const std::vector<std::string> expected = {"(null)", "old", "(null)", "old", "new", "(null)", "new"};
    EXPECT_EQ(PasswordsOffered(), expected);
}

TEST_F(PluginPasswordTest, StalePasswordAndCancelEnds) {
    const std::u16string path = Protected("gone.bin", "old");
    int shown = 0;
    EXPECT_TRUE(OpenWith(path, {Answer{"old"}}, shown));
    Protected("gone.bin", "new");
    EXPECT_FALSE(OpenWith(path, {Answer{"", true}}, shown));
    EXPECT_EQ(shown, 1);
}

TEST_F(PluginPasswordTest, AccessViolationInOpenProcCountsAsDeclining) {
    const fs::path file = folder.folder.Path() / "fault.bin";
    WriteContainer(file, "open\ta\tfault\nopen\tb\t1\n");
    PK_HANDLE handle = plugin->Open(file.u16string());
    ASSERT_NE(handle, nullptr);
    plugin->CloseArchive(handle);
    WriteContainer(folder.folder.Path() / "next.bin", "open\ta\t1\n");
    handle = plugin->Open((folder.folder.Path() / "next.bin").u16string());
    ASSERT_NE(handle, nullptr);
    plugin->CloseArchive(handle);
    const std::vector<std::string> expected = {"a LoadSubModule", "b LoadSubModule", "a OpenProc",  "b OpenProc",
                                               "b PrepareProc",   "b CloseProc",     "a OpenProc",  "a PrepareProc",
                                               "a CloseProc"};
    EXPECT_EQ(LoggedCalls(folder.LogPath()), expected);
}

TEST_F(PluginPasswordTest, ConcurrentOpensProbesAndCloses) {
    std::vector<std::u16string> locked;
    for (int i = 0; i < 4; ++i) {
        locked.push_back(Protected("locked" + std::to_string(i), "pw" + std::to_string(i)));
        int shown = 0;
        ASSERT_TRUE(OpenWith(locked.back(), {Answer{"pw" + std::to_string(i)}}, shown));
    }
    const std::u16string plain = WriteContainer(folder.folder.Path() / "plain.bin", "open\tb\t1\n");
    const std::u16string none = WriteContainer(folder.folder.Path() / "none.bin", "open\t*\t0\n");
    const size_t closesBefore = CallsNamed(folder.LogPath(), "CloseProc").size();
    PasswordDialogDriver noDialogExpected({});  // cancels any dialog instead of hanging
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i) {
                PK_HANDLE handle = plugin->Open(locked[(t + i) % 4]);
                if (!handle) ++wrong;
                if (plugin->Probe(plain) != 1) ++wrong;
                if (plugin->Probe(none) != 0) ++wrong;
                PK_HANDLE second = plugin->Open(plain);
                if (!second) ++wrong;
                plugin->CloseArchive(second);
                plugin->CloseArchive(handle);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(noDialogExpected.Shown(), 0);
    // 4 threads x 25 rounds x (two opens and one successful probe), each container closed once.
    EXPECT_EQ(CallsNamed(folder.LogPath(), "CloseProc").size() - closesBefore, 300u);
}
#endif

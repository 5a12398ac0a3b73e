// Morvane driven as a Unix host (Double Commander) drives it: the dialogs that the host lends
// through ExtensionInitialize, the failure report, faults in .so sub-modules, and what extraction
// leaves on disk (file and directory times, read-only modes, '/' in composed targets).
#if !defined(_WIN32)
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "plugin/ExtensionInterface.h"
#include "support/Containers.h"
#include "support/PluginUnderTest.h"

using namespace testing_support;

namespace {

// What the host's dialogs were asked, and how they answer.
struct FakeHost {
    struct Input {
        std::string caption, prompt;
        int32_t mask, maxLength;
        bool startedEmpty;
    };
    std::vector<Input> inputs;
    std::vector<std::pair<std::string, std::string>> messages;  // text, caption
    std::string typed;
    int32_t answer = -1;  // Double Commander's OK
    size_t answersBeforeCancel = 100;
} host;

int32_t PK_CALL HostInputBox(char* caption, char* prompt, int32_t mask, char* value, int32_t maxLength) {
    host.inputs.push_back({caption, prompt, mask, maxLength, value[0] == '\0'});
    if (host.answer == 0 || host.inputs.size() > host.answersBeforeCancel) return 0;
    // As the host copies: up to maxLength bytes, then a terminator.
    const size_t length = std::min(host.typed.size(), size_t(maxLength));
    std::memcpy(value, host.typed.data(), length);
    value[length] = '\0';
    return host.answer;
}

int32_t PK_CALL HostMessageBox(char* text, char* caption, int32_t flags) {
    host.messages.emplace_back(text, caption);
    return flags == EXT_MB_OK ? EXT_ID_OK : -100;
}

// Hands the plug-in a startup record as large as the host's, of which StructSize claims size.
void LendDialogs(PluginUnderTest& plugin, size_t size = sizeof(tExtensionStartupInfo) + 4096 * sizeof(void*)) {
    auto initialize = reinterpret_cast<tExtensionInitializeFunction>(dlsym(plugin.Library(), "ExtensionInitialize"));
    ASSERT_NE(initialize, nullptr);
    std::vector<unsigned char> record(sizeof(tExtensionStartupInfo) + 4096 * sizeof(void*), 0);
    tExtensionStartupInfo info{};
    info.StructSize = uint32_t(size);
    info.InputBox = HostInputBox;
    info.MessageBox = HostMessageBox;
    std::memcpy(record.data(), &info, sizeof info);
    initialize(reinterpret_cast<tExtensionStartupInfo*>(record.data()));
}

// Everything written to stderr while it lives.
class StderrCapture {
public:
    StderrCapture() : file_(folder_.Path() / "stderr.txt") {
        std::fflush(stderr);
        saved_ = dup(STDERR_FILENO);
        const int fd = open(file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, STDERR_FILENO);
        close(fd);
    }
    ~StderrCapture() { Restore(); }
    std::string Text() {
        Restore();
        return ReadFile(file_);
    }

private:
    void Restore() {
        if (saved_ < 0) return;
        std::fflush(stderr);
        dup2(saved_, STDERR_FILENO);
        close(saved_);
        saved_ = -1;
    }
    TempFolder folder_;
    fs::path file_;
    int saved_ = -1;
};

class PluginUnixHostTest : public ::testing::Test {
protected:
    void SetUp() override { host = FakeHost(); }
    std::u16string Container(const std::string& name, const std::string& lines) {
        return WriteContainer(folder.folder.Path() / name, lines);
    }
    ModuleFolder folder;
};

constexpr uint64_t kUnixEpochAsFileTime = 116444736000000000ull;
uint64_t FileTimeOf(int64_t unixSeconds) { return kUnixEpochAsFileTime + uint64_t(unixSeconds) * 10000000ull; }

struct stat StatOf(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
    return info;
}

}  // namespace

TEST_F(PluginUnixHostTest, PasswordPromptIsTheHostsMaskedInputBox) {
    folder.AddModule("a");
    folder.WriteIni(PluginUnderTest::IniName(), "[Modules]\na=a.so\n[a]\n" + folder.LogSetting() + "\n");
    PluginUnderTest plugin(folder);
    const std::string longPassword(99, 'x');
    int result = 0;
    // Before the host lends its dialogs, a password cannot be asked for: the open fails as a cancel.
    EXPECT_EQ(plugin.Open(Container("early.bin", "open\ta\t1\npassword\tpw\n"), &result), nullptr);
    EXPECT_EQ(result, E_NOT_SUPPORTED);
    EXPECT_TRUE(host.inputs.empty());

    LendDialogs(plugin);
    const struct {
        const char* file;
        std::string password, typed;
        int32_t answer;
        bool opens;
        size_t prompts;
    } cases[] = {
        {"ok.bin", "pw", "pw", -1, true, 1},
        {"one.bin", "pw", "pw", 1, true, 1},  // any non-zero answer is OK
        {"cancel.bin", "pw", "pw", 0, false, 1},
        {"wrong.bin", "pw", "nope", -1, false, 2},  // refused, asked again, then cancelled
        {"long.bin", longPassword, longPassword + "yyyyyyyyyy", -1, true, 1},  // cut to the buffer's 99 bytes
    };
    for (const auto& c : cases) {
        host = FakeHost();
        host.typed = c.typed;
        host.answer = c.answer;
        host.answersBeforeCancel = 1;
        PK_HANDLE handle = plugin.Open(Container(c.file, "open\ta\t1\npassword\t" + c.password + "\n"), &result);
        EXPECT_EQ(handle != nullptr, c.opens) << c.file;
        EXPECT_EQ(result, c.opens ? 0 : E_NOT_SUPPORTED) << c.file;
        EXPECT_EQ(host.inputs.size(), c.prompts) << c.file;
        for (const auto& input : host.inputs) {
            EXPECT_EQ(input.caption, "Enter password:") << c.file;
            EXPECT_EQ(input.prompt, "") << c.file;
            EXPECT_NE(input.mask, 0) << c.file;
            EXPECT_EQ(input.maxLength, 99) << c.file;
            EXPECT_TRUE(input.startedEmpty) << c.file;
        }
        if (handle) plugin.CloseArchive(handle);
    }
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(PluginUnixHostTest, FailureReportWaitsForTheHostsMessageBoxOrGoesToStderrOnce) {
    folder.AddModule("ok");
    folder.AddModule("faults");
    folder.WriteIni(PluginUnderTest::IniName(), "[General]\nVerboseModuleLoad=1\n[Modules]\nmissing=missing.so\n"
                                                "faults=faults.so\nok=ok.so\n[faults]\nLoadFault=1\n");
    const std::string missing = (folder.folder.Path() / "missing.so").string();
    const std::string report = "missing:" + missing + ": cannot open shared object file: No such file or directory\n"
                               "faults:Segmentation fault\n";
    const std::u16string plain = Container("plain.bin", "open\tok\t1\n");
    const struct {
        const char* how;
        bool lend;
        size_t structSize;
    } cases[] = {
        {"host lends its dialogs", true, sizeof(tExtensionStartupInfo) + 4096 * sizeof(void*)},
        {"host's record too short for MessageBox", true, sizeof(tExtensionStartupInfo) - 1},
        {"host lends nothing", false, 0},
    };
    for (const auto& c : cases) {
        host = FakeHost();
        StderrCapture captured;
        {
            FaultingModuleLeaksIgnored faultingLoad;
            PluginUnderTest plugin(folder);
            if (c.lend) LendDialogs(plugin, c.structSize);
            const bool adopted = c.lend && c.structSize >= sizeof(tExtensionStartupInfo);
            if (adopted) {
                ASSERT_EQ(host.messages.size(), 1u) << c.how;
                EXPECT_EQ(host.messages[0].first, report) << c.how;
                EXPECT_EQ(host.messages[0].second, "Morvane failed modules:") << c.how;
            } else {
                EXPECT_TRUE(host.messages.empty()) << c.how;
            }
            // The faulting module was refused; the one after it serves.
            for (int i = 0; i < 2; ++i) {
                PK_HANDLE handle = plugin.Open(plain);
                EXPECT_NE(handle, nullptr) << c.how;
                plugin.CloseArchive(handle);
            }
            if (c.lend) LendDialogs(plugin, c.structSize);  // a report is shown once only
        }
        const bool adopted = c.lend && c.structSize >= sizeof(tExtensionStartupInfo);
        EXPECT_EQ(host.messages.size(), adopted ? 1u : 0u) << c.how;
        EXPECT_EQ(captured.Text(), adopted ? "" : "Morvane failed modules:\n" + report) << c.how;
    }

    // Nothing failed: nothing is shown, whether the host lends its dialogs or not.
    folder.WriteIni(PluginUnderTest::IniName(), "[General]\nVerboseModuleLoad=1\n[Modules]\nok=ok.so\n");
    for (bool lend : {true, false}) {
        host = FakeHost();
        StderrCapture captured;
        {
            PluginUnderTest plugin(folder);
            if (lend) LendDialogs(plugin);
            PK_HANDLE handle = plugin.Open(plain);
            EXPECT_NE(handle, nullptr);
            plugin.CloseArchive(handle);
        }
        EXPECT_TRUE(host.messages.empty()) << lend;
        EXPECT_EQ(captured.Text(), "") << lend;
    }
}

TEST_F(PluginUnixHostTest, FaultInOpenProcOfASharedObjectLetsTheNextModuleServe) {
    folder.AddModule("a");
    folder.AddModule("b");
    folder.WriteIni(PluginUnderTest::IniName(), "[Modules]\na=a.so\nb=b.so\n[a]\n" + folder.LogSetting() +
                                                    "\n[b]\n" + folder.LogSetting() + "\n");
    PluginUnderTest plugin(folder);
    FaultingModuleLeaksIgnored faultingOpens;
    for (int round = 0; round < 3; ++round) {
        PK_HANDLE handle = plugin.Open(Container("fault.bin", "open\ta\tfault\nopen\tb\t1\n"));
        EXPECT_NE(handle, nullptr);
        plugin.CloseArchive(handle);
        EXPECT_EQ(plugin.Probe(Container("fault.bin", "open\ta\tfault\nopen\tb\t0\n")), 0);
    }
    PK_HANDLE handle = plugin.Open(Container("next.bin", "open\ta\t1\n"));
    EXPECT_NE(handle, nullptr);
    plugin.CloseArchive(handle);
    std::vector<std::string> served;
    for (const auto& line : CallsNamed(folder.LogPath(), "PrepareProc")) served.push_back(line[0]);
    EXPECT_EQ(served, (std::vector<std::string>{"b", "b", "b", "a"}));
}

// A fault is told the user once, in the host's message box (on stderr when the host lends none),
// and only when the INI file asks for reports.
TEST_F(PluginUnixHostTest, AFaultIsReportedOnceWhenVerbose) {
    folder.AddModule("m");
    const struct {
        const char* general;
        bool lend;
        bool shown;
    } cases[] = {
        {"VerboseModuleLoad=1", true, true}, {"VerboseModuleLoad=1", false, true},
        {"VerboseModuleLoad=0", true, false}, {"", false, false},
    };
    for (const auto& c : cases) {
        host = FakeHost();
        folder.WriteIni(PluginUnderTest::IniName(), std::string("[General]\n") + c.general + "\n[Modules]\nm=m.so\n");
        const std::u16string path = Container("faults.bin", "open\tm\t1\nfault\tReadEntryProc\tdivide\nentry\tname=f\n");
        const std::string report = "m: ReadEntryProc faulted on " + Utf8(path) + "\nFloating-point exception\n";
        StderrCapture captured;
        {
            FaultingModuleLeaksIgnored leaks;
            PluginUnderTest plugin(folder);
            if (c.lend) LendDialogs(plugin);
            PK_HANDLE handle = plugin.Open(path);
            ASSERT_NE(handle, nullptr);
            for (int i = 0; i < 2; ++i) {
                int result = 0;
                plugin.NextHeader(handle, &result);
                EXPECT_EQ(result, E_BAD_ARCHIVE) << c.general;
            }
            plugin.CloseArchive(handle);
        }
        const bool boxed = c.shown && c.lend;
        ASSERT_EQ(host.messages.size(), boxed ? 1u : 0u) << c.general << c.lend;
        if (boxed) {
            EXPECT_EQ(host.messages[0].first, report);
            EXPECT_EQ(host.messages[0].second, "Morvane: a module faulted");
        }
        EXPECT_EQ(captured.Text(), c.shown && !c.lend ? "Morvane: a module faulted\n" + report : "") << c.general;
    }
}

TEST_F(PluginUnixHostTest, ExtractionGivesFilesAndListedDirectoriesTheirTimesAndModes) {
    folder.AddModule("m");
    folder.WriteIni(PluginUnderTest::IniName(), "[Modules]\nm=m.so\n");
    PluginUnderTest plugin(folder);
    const int64_t kDirectory = 978307200, kSub = 978393600, kReadOnly = 1796733296, kWritable = 1700000000,
                  kOther = 1600000000, kMoved = 1500000000;
    auto entry = [](const std::string& name, const char* attributes, int64_t time, const std::string& content) {
        return "entry\tname=" + name + "\tattr=" + attributes + "\tmtime=" + std::to_string(FileTimeOf(time)) +
               "\tsize=" + std::to_string(content.size()) + "\tcontent=" + content + "\n";
    };
    // Directory entries after their contents, as some archives list them, and one before.
    const std::string entries = entry("d/sub/ro.txt", "0x21", kReadOnly, "ro") + entry("d/rw.txt", "0x20", kWritable, "rw") +
                                entry("d/sub", "0x10", kSub, "") + entry("d", "0x10", kDirectory, "") +
                                entry("y", "0x10", kOther, "") + entry("y/z.txt", "0x20", kMoved, "z") +
                                entry("y/" + std::string(400, 'l') + ".txt", "0x20", kMoved, "long");
    const struct {
        const char* how;
        bool hostMakesDirectories;  // as Double Commander: directories itself, files by full target
        bool destPath;              // DestPath and a relative DestName, parents made by Morvane
    } cases[] = {
        {"host makes directories, DestName absolute", true, false},
        {"Morvane makes directories, DestName absolute", false, false},
        {"DestPath and DestName", false, true},
    };
    int counter = 0;
    for (const auto& c : cases) {
        const fs::path out = folder.folder.Path() / ("out" + std::to_string(counter));
        fs::create_directories(out / "other");
        PK_HANDLE handle = plugin.Open(Container("x" + std::to_string(counter++) + ".bin", "open\tm\t1\n" + entries));
        ASSERT_NE(handle, nullptr) << c.how;
        for (;;) {
            tHeaderDataExW header{};
            if (plugin.ReadHeaderExW(handle, &header) != 0) break;
            std::u16string name = FromW(header.FileName);
            const bool directory = PluginUnderTest::IsDirectory(header);
            if (directory) {
                if (c.hostMakesDirectories) fs::create_directories(out / Utf8(name));
                EXPECT_EQ(plugin.ProcessFileW(handle, PK_SKIP, nullptr, nullptr), 0);
                continue;
            }
            // y/z.txt goes elsewhere, as the host may put an entry: its listed folder has no place on disk.
            if (name == u"y/z.txt") name = u"other/z.txt";
            if (name.size() > 400) name = u"other/l.txt";  // a target shorter than the entry's name
            std::u16string root = out.u16string(), target = root + u"/" + name;
            const int result = c.destPath ? plugin.ProcessFileW(handle, PK_EXTRACT, W(root), W(name))
                                          : plugin.ProcessFileW(handle, PK_EXTRACT, nullptr, W(target));
            EXPECT_EQ(result, 0) << c.how << " " << Utf8(name);
        }
        plugin.CloseArchive(handle);

        EXPECT_EQ(ReadFile(out / "d/sub/ro.txt"), "ro") << c.how;
        EXPECT_EQ(ReadFile(out / "d/rw.txt"), "rw") << c.how;
        const struct {
            const char* path;
            int64_t time;
            bool writable;
        } expected[] = {
            {"d/sub/ro.txt", kReadOnly, false}, {"d/rw.txt", kWritable, true}, {"d/sub", kSub, true},
            {"d", kDirectory, true},            {"other/z.txt", kMoved, true},
            {"other/l.txt", kMoved, true},
        };
        for (const auto& e : expected) {
            const struct stat info = StatOf(out / e.path);
            EXPECT_EQ(info.st_mtim.tv_sec, e.time) << c.how << " " << e.path;
            EXPECT_EQ((info.st_mode & 0200) != 0, e.writable) << c.how << " " << e.path;
        }
        EXPECT_NE(StatOf(out / "other").st_mtim.tv_sec, kOther) << c.how;
    }
}
#endif
